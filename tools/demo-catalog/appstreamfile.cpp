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
        for (const int size : iconsOf(entry).keys())
            xml += QStringLiteral(
                       "    <icon type=\"cached\" width=\"%2\" height=\"%2\">%1.png</icon>\n")
                       .arg(escaped(entry.package))
                       .arg(size);
        xml += QStringLiteral("    <categories>\n");
        for (const QString &category : entry.categories)
            xml += QStringLiteral("      <category>%1</category>\n").arg(escaped(category));
        xml += QStringLiteral("    </categories>\n  </component>\n");
    }
    return xml + QStringLiteral("</components>\n");
}

QMap<int, QByteArray> AppStreamFile::iconsOf(const AppStreamEntry &entry)
{
    QMap<int, QByteArray> icons = entry.sizedIcons;
    if (!entry.icon.isEmpty())
        icons.insert(64, entry.icon);
    return icons;
}

bool AppStreamFile::addTo(const QString &repositoryDirectory, QString *error) const
{
    QTemporaryDir work;
    QMap<QString, QStringList> members; // size folder -> its icon files
    for (const AppStreamEntry &entry : m_entries) {
        const QMap<int, QByteArray> icons = iconsOf(entry);
        for (auto it = icons.cbegin(); it != icons.cend(); ++it) {
            const QString folder = QStringLiteral("%1x%1").arg(it.key());
            QDir().mkpath(work.filePath(folder));
            members[folder] << entry.package + QStringLiteral(".png");
            QFile icon(work.filePath(folder + QLatin1Char('/') + members[folder].last()));
            if (!icon.open(QIODevice::WriteOnly) || icon.write(it.value()) != it.value().size()) {
                *error = QStringLiteral("cannot write ") + icon.fileName();
                return false;
            }
        }
    }
    QFile xml(work.filePath(QStringLiteral("appstream.xml")));
    if (!xml.open(QIODevice::WriteOnly)) {
        *error = QStringLiteral("cannot write ") + xml.fileName();
        return false;
    }
    xml.write(collectionXml().toUtf8());
    xml.close();
    // modifyrepo_c compresses them all, as the distributions ship them.
    const QString repodata = repositoryDirectory + QStringLiteral("/repodata");
    if (!run(QStringLiteral("modifyrepo_c"),
             {QStringLiteral("--mdtype=appstream"), xml.fileName(), repodata}, error))
        return false;
    if (m_layout == IconArchives::SizeFolders) {
        const QString archive = work.filePath(QStringLiteral("appstream-icons.tar"));
        const QStringList folders =
            members.isEmpty() ? QStringList{QStringLiteral("64x64")} : members.keys();
        QDir().mkpath(work.filePath(folders.first()));
        return run(QStringLiteral("tar"),
                   QStringList{QStringLiteral("-cf"), archive, QStringLiteral("-C"), work.path()} +
                       folders,
                   error) &&
               run(QStringLiteral("modifyrepo_c"),
                   {QStringLiteral("--mdtype=appstream-icons"), archive, repodata}, error);
    }
    for (auto it = members.cbegin(); it != members.cend(); ++it) {
        const bool asAll = m_layout == IconArchives::OneSizeAsAll;
        if (asAll && it.key() != QLatin1String("64x64") &&
            members.contains(QStringLiteral("64x64")))
            continue;
        const QString archive = work.filePath(QStringLiteral("icons-%1.tar").arg(it.key()));
        if (!run(QStringLiteral("tar"),
                 QStringList{QStringLiteral("-cf"), archive, QStringLiteral("-C"),
                             work.filePath(it.key())} +
                     it.value(),
                 error) ||
            !run(QStringLiteral("modifyrepo_c"),
                 {QStringLiteral("--mdtype=appstream-icons") +
                      (asAll ? QString() : QLatin1Char('-') + it.key()),
                  archive, repodata},
                 error))
            return false;
        if (asAll)
            break;
    }
    return true;
}
