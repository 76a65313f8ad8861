#include "appstreamfile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

namespace
{

QString escaped(const QString &value)
{
    return value.toHtmlEscaped();
}

bool run(const QString &program, const QStringList &args, QString *error)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.start(program, args);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        *error = program + QStringLiteral(" failed: ") + QString::fromUtf8(process.readAll()) +
                 process.errorString();
        return false;
    }
    return true;
}

} // namespace

QString AppStreamFile::collectionXml() const
{
    QString xml = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<components "
                                 "version=\"0.14\" origin=\"corvane\">\n");
    for (const AppStreamEntry &entry : m_entries) {
        xml += QStringLiteral(
                   "  <component type=\"desktop-application\">\n    <id>org.corvane.%1</id>\n"
                   "    <pkgname>%1</pkgname>\n    <name>%2</name>\n")
                   .arg(escaped(entry.package), escaped(entry.name));
        if (!entry.nameZh.isEmpty())
            xml += QStringLiteral("    <name xml:lang=\"zh_CN\">%1</name>\n")
                       .arg(escaped(entry.nameZh));
        xml += QStringLiteral("    <summary>%1</summary>\n    <description>\n      <p>%1</p>\n"
                              "    </description>\n    <project_license>MIT</project_license>\n"
                              "    <launchable type=\"desktop-id\">%2.desktop</launchable>\n")
                   .arg(escaped(entry.summary), escaped(entry.package));
        if (!entry.icon.isEmpty())
            xml += QStringLiteral(
                       "    <icon type=\"cached\" width=\"64\" height=\"64\">%1.png</icon>\n")
                       .arg(escaped(entry.package));
        xml += QStringLiteral("    <categories>\n");
        for (const QString &category : entry.categories)
            xml += QStringLiteral("      <category>%1</category>\n").arg(escaped(category));
        xml += QStringLiteral("    </categories>\n  </component>\n");
    }
    return xml + QStringLiteral("</components>\n");
}

bool AppStreamFile::addTo(const QString &repositoryDirectory, QString *error) const
{
    QTemporaryDir work;
    const QString icons = work.filePath(QStringLiteral("64x64"));
    QDir().mkpath(icons);
    for (const AppStreamEntry &entry : m_entries) {
        if (entry.icon.isEmpty())
            continue;
        QFile icon(icons + QLatin1Char('/') + entry.package + QStringLiteral(".png"));
        if (!icon.open(QIODevice::WriteOnly) || icon.write(entry.icon) != entry.icon.size()) {
            *error = QStringLiteral("cannot write ") + icon.fileName();
            return false;
        }
    }
    QFile xml(work.filePath(QStringLiteral("appstream.xml")));
    if (!xml.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write ") + xml.fileName();
        return false;
    }
    xml.write(collectionXml().toUtf8());
    xml.close();
    // modifyrepo_c compresses both, as the distributions ship them.
    const QString archive = work.filePath(QStringLiteral("appstream-icons.tar"));
    const QString repodata = repositoryDirectory + QStringLiteral("/repodata");
    return run(QStringLiteral("tar"),
               {QStringLiteral("-cf"), archive, QStringLiteral("-C"), work.path(),
                QStringLiteral("64x64")},
               error) &&
           run(QStringLiteral("modifyrepo_c"),
               {QStringLiteral("--mdtype=appstream"), xml.fileName(), repodata}, error) &&
           run(QStringLiteral("modifyrepo_c"),
               {QStringLiteral("--mdtype=appstream-icons"), archive, repodata}, error);
}
