#include "democatalog.h"

#include "appstreamfile.h"

#include <QColor>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QProcess>
#include <QTextStream>

#include <algorithm>

namespace
{

const char *const CategoryColours[13] = {"#3b82f6", "#8b5cf6", "#0ea5e9", "#22c55e", "#f59e0b",
                                         "#ef4444", "#ec4899", "#06b6d4", "#64748b", "#a16207",
                                         "#d946ef", "#f97316", "#14b8a6"};

QString xmlAttribute(const QString &value)
{
    QString text = value.toHtmlEscaped();
    return text.replace(QLatin1Char('\''), QLatin1String("&apos;"));
}

bool run(const QString &program, const QStringList &args, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = program + QStringLiteral(": ") + QString::fromUtf8(process.readAll());
        return false;
    }
    return true;
}

} // namespace

QVector<DemoApp> DemoCatalog::load(const QString &tsvPath, QString *error)
{
    QVector<DemoApp> apps;
    QFile file(tsvPath);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *error = QStringLiteral("cannot read ") + tsvPath;
        return apps;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList f = line.split(QLatin1Char('\t'));
        if (f.size() != 7) {
            *error = QStringLiteral("bad line: ") + line;
            return {};
        }
        apps.append({f[0], f[1].toInt(), f[2], f[3], f[4], f[5], f[6]});
    }
    return apps;
}

// The first non-zero number part lowered by one: 7.5.2 -> 6.5.2, 0.12.4 -> 0.11.4.
QString DemoCatalog::olderVersion(const QString &version)
{
    QStringList parts = version.split(QLatin1Char('.'));
    for (QString &part : parts) {
        bool ok = false;
        const int n = part.toInt(&ok);
        if (ok && n > 0) {
            part = QString::number(n - 1).rightJustified(part.size(), QLatin1Char('0'));
            return parts.join(QLatin1Char('.'));
        }
    }
    return QStringLiteral("0");
}

bool DemoCatalog::writeIcon(const DemoApp &app, const QString &path) const
{
    QImage image(64, 64, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    const QColor base(QString::fromLatin1(CategoryColours[(app.category - 1 + 13) % 13]));
    QLinearGradient gradient(0, 0, 0, 64);
    gradient.setColorAt(0, base.lighter(125));
    gradient.setColorAt(1, base.darker(115));
    QPainterPath shape;
    shape.addRoundedRect(QRectF(2, 2, 60, 60), 14, 14);
    painter.fillPath(shape, gradient);
    painter.setPen(Qt::white);
    QFont font(QStringLiteral("Noto Sans CJK SC"));
    font.setPixelSize(30);
    font.setBold(true);
    painter.setFont(font);
    painter.drawText(QRectF(2, 2, 60, 60), Qt::AlignCenter, app.name.left(1));
    painter.end();
    return image.save(path, "PNG");
}

bool DemoCatalog::buildPackage(const DemoApp &app, const QString &version, const QString &workDir,
                               QString *error) const
{
    // The installed program announces itself and stays up a while, so the store sees it run.
    const QString spec =
        QStringLiteral(
            "Name: %1\nVersion: %2\nRelease: 1\nSummary: %1\nLicense: MIT\nBuildArch: x86_64\n"
            "AutoReqProv: no\n%description\n%3\n"
            "%install\nmkdir -p %{buildroot}/usr/bin\n"
            "printf '#!/bin/sh\\nnotify-send \"%4\" \"%4 %2 已启动\"\\nexec sleep 120\\n' > "
            "%{buildroot}/usr/bin/%1\n"
            "chmod 755 %{buildroot}/usr/bin/%1\n"
            "head -c %5 /dev/urandom > %{buildroot}/usr/bin/.%1.data\n"
            "%files\n/usr/bin/%1\n/usr/bin/.%1.data\n")
            .arg(app.key, version, app.description, app.name)
            .arg(200000 + 7919 * app.key.size() * app.category);
    const QString specPath =
        workDir + QLatin1Char('/') + app.key + QLatin1Char('-') + version + ".spec";
    QFile file(specPath);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write ") + specPath;
        return false;
    }
    file.write(spec.toUtf8());
    file.close();
    return run(QStringLiteral("rpmbuild"),
               {QStringLiteral("--define"), QStringLiteral("_topdir ") + workDir + "/rpmbuild",
                QStringLiteral("--define"), QStringLiteral("_rpmdir ") + workDir + "/rpms",
                QStringLiteral("--define"),
                QStringLiteral("_build_name_fmt %{NAME}-%{VERSION}-%{RELEASE}.%{ARCH}.rpm"),
                QStringLiteral("--define"), QStringLiteral("_build_id_links none"),
                QStringLiteral("--quiet"), QStringLiteral("-bb"), specPath},
               error);
}

QString DemoCatalog::catalogDocument(const QVector<DemoApp> &apps) const
{
    QString text = QStringLiteral("<catalog>\n");
    for (const DemoApp &app : apps) {
        const QString size =
            QStringLiteral("%1").arg(200000 + 7919 * app.key.size() * app.category + 2048);
        text += QStringLiteral("<software name='%1' icon='%2' exec='%3' rpm='%4' class='%5' "
                               "version='%6' size='%7' star='%8' time='%9' desc='%10' rpmdeps=''/>")
                    .arg(xmlAttribute(app.name), app.key + ".png", app.key,
                         app.key + '-' + app.version + "-1", QString::number(app.category),
                         app.version, size, app.star, QStringLiteral("20261201"))
                    .arg(xmlAttribute(app.description));
        text += QLatin1Char('\n');
    }
    return text + QStringLiteral("</catalog>\n");
}

bool DemoCatalog::write(const QString &outDir, QString *error) const
{
    const QString www = outDir + "/www";
    const QString work = outDir + "/build";
    const QString repo = outDir + "/repo";
    for (const QString &dir : {www, work + "/rpms", repo})
        QDir().mkpath(dir);

    QStringList preinstall;
    for (const DemoApp &app : m_apps) {
        if (!writeIcon(app, www + '/' + app.key + ".png")) {
            *error = QStringLiteral("cannot draw the icon of ") + app.key;
            return false;
        }
        if (!buildPackage(app, app.version, work, error))
            return false;
        if (app.installed == QLatin1String("old")) {
            const QString older = olderVersion(app.version);
            if (!buildPackage(app, older, work, error))
                return false;
            preinstall << app.key + '-' + older + "-1.x86_64.rpm";
        } else if (app.installed == QLatin1String("cur")) {
            preinstall << app.key + '-' + app.version + "-1.x86_64.rpm";
        }
    }
    const QFileInfoList built = QDir(work + "/rpms").entryInfoList({"*.rpm"}, QDir::Files);
    for (const QFileInfo &rpm : built) {
        QFile::remove(repo + '/' + rpm.fileName());
        QFile::rename(rpm.filePath(), repo + '/' + rpm.fileName());
    }
    if (!run(QStringLiteral("createrepo_c"), {QStringLiteral("-q"), repo}, error) ||
        !writeAppStream(outDir, error) || !writeUpdateInfo(outDir, error))
        return false;

    const auto writeText = [error](const QString &path, const QString &text) {
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            *error = QStringLiteral("cannot write ") + path;
            return false;
        }
        file.write(text.toUtf8());
        return true;
    };
    return writeText(outDir + "/catalog.xml", catalogDocument(m_apps)) &&
           writeText(outDir + "/preinstall.txt", preinstall.join('\n') + '\n');
}

bool DemoCatalog::writeUpdateInfo(const QString &outDir, QString *error) const
{
    struct Kind {
        const char *type;
        const char *severity;
        const char *cves;
    };
    const Kind kinds[] = {{"security", "Critical", "CVE-2026-31337 CVE-2026-31338"},
                          {"security", "Important", "CVE-2026-20417"},
                          {"enhancement", "", ""}};
    QString updates;
    const auto add = [&updates](const QString &id, const Kind &kind, const QString &package,
                                const QString &version, const QString &title) {
        QString references;
        for (const QString &cve : QString::fromLatin1(kind.cves).split(' ', Qt::SkipEmptyParts))
            references += QStringLiteral("<reference href=\"https://www.cve.org/CVERecord?id=%1\" "
                                         "id=\"%1\" type=\"cve\" title=\"%1\"/>")
                              .arg(cve);
        updates += QStringLiteral("  <update from=\"security@lumora.example\" status=\"stable\" "
                                  "type=\"%1\" version=\"2.0\">\n    <id>%2</id>\n    <title>%3"
                                  "</title>\n    <severity>%4</severity>\n    <issued date=\""
                                  "2026-12-01 09:00:00\"/>\n    <references>%5</references>\n"
                                  "    <pkglist><collection short=\"demo\"><name>demo</name>"
                                  "<package name=\"%6\" version=\"%7\" release=\"1\" epoch=\"0\" "
                                  "arch=\"x86_64\"><filename>%6-%7-1.x86_64.rpm</filename>"
                                  "</package></collection></pkglist>\n  </update>\n")
                       .arg(QLatin1String(kind.type), id, title.toHtmlEscaped(),
                            QLatin1String(kind.severity), references, package, version);
    };
    int next = 0;
    for (const DemoApp &app : m_apps)
        if (app.installed == QLatin1String("old") && next < 3) {
            add(QStringLiteral("DEMO-2026:%1").arg(1001 + next), kinds[next], app.key, app.version,
                app.name + QStringLiteral(" 更新"));
            ++next;
        }
    add(QStringLiteral("DEMO-2026:0999"), kinds[1], QStringLiteral("demo-absent"),
        QStringLiteral("1.0"), QStringLiteral("不在目录中的软件包"));
    const QString path = outDir + "/build/updateinfo.xml";
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        *error = QStringLiteral("cannot write ") + path;
        return false;
    }
    file.write(
        ("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<updates>\n" + updates + "</updates>\n")
            .toUtf8());
    file.close();
    return run(QStringLiteral("modifyrepo_c"),
               {QStringLiteral("--mdtype=updateinfo"), path, outDir + "/repo/repodata"}, error);
}

bool DemoCatalog::writeAppStream(const QString &outDir, QString *error) const
{
    // Desktop categories the catalog server's default table turns back into each code.
    static const char *const categories[13] = {
        "Office",  "Development", "Science",   "Education", "Utility", "Video",          "Graphics",
        "Network", "System",      "Archiving", "Audio",     "Game",    "X-Corvane-Other"};
    QVector<AppStreamEntry> entries;
    QString overrides = QStringLiteral("# The demo's ratings and commands (its packages carry no "
                                       "desktop entries).\n");
    for (const DemoApp &app : m_apps) {
        QFile icon(outDir + "/www/" + app.key + ".png");
        if (!icon.open(QIODevice::ReadOnly)) {
            *error = QStringLiteral("no icon for ") + app.key;
            return false;
        }
        entries << AppStreamEntry{
            app.key,
            app.key,
            app.name,
            app.description,
            {QString::fromLatin1(categories[qBound(1, app.category, 13) - 1])},
            icon.readAll()};
        overrides += QStringLiteral("star %1 %2\nexec %1 %1\n").arg(app.key, app.star);
    }
    const AppStreamFile appstream(entries);
    QFile xml(outDir + "/appstream.xml");
    if (!xml.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        xml.write(appstream.collectionXml().toUtf8()) < 0) {
        *error = QStringLiteral("cannot write ") + xml.fileName();
        return false;
    }
    xml.close();
    QFile conf(outDir + "/overrides.conf");
    if (!conf.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        conf.write(overrides.toUtf8()) < 0) {
        *error = QStringLiteral("cannot write ") + conf.fileName();
        return false;
    }
    conf.close();
    return run(QStringLiteral("appstreamcli"),
               {QStringLiteral("validate"), QStringLiteral("--no-net"), xml.fileName()}, error) &&
           appstream.addTo(outDir + "/repo", error);
}

bool DemoCatalog::publish(const QString &outDir, const QString &key, QString *published,
                          QString *error) const
{
    const auto app = std::find_if(m_apps.cbegin(), m_apps.cend(),
                                  [&](const DemoApp &a) { return a.key == key; });
    if (app == m_apps.cend()) {
        *error = QStringLiteral("no application ") + key;
        return false;
    }
    // One above the newest version in the repository, so every publish is an upgrade.
    QStringList parts = app->version.split(QLatin1Char('.'));
    QString file;
    do {
        parts.last() = QString::number(parts.last().toInt() + 1);
        file = key + '-' + parts.join(QLatin1Char('.')) + "-1.x86_64.rpm";
    } while (QFile::exists(outDir + "/repo/" + file));
    const QString work = outDir + "/build";
    if (!buildPackage(*app, parts.join(QLatin1Char('.')), work, error))
        return false;
    if (!QFile::rename(work + "/rpms/" + file, outDir + "/repo/" + file)) {
        *error = QStringLiteral("rpmbuild made no ") + file;
        return false;
    }
    *published = file;
    return run(QStringLiteral("createrepo_c"),
               {QStringLiteral("-q"), QStringLiteral("--update"),
                QStringLiteral("--keep-all-metadata"), outDir + "/repo"},
               error);
}
