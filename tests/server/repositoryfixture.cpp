#include "repositoryfixture.h"

#include "tests/support/processrunner.h"
#include "tools/demo-catalog/appstreamfile.h"

#include <QDir>
#include <QFile>

namespace
{

TestPackage package(const QString &name, const QString &version, const QString &arch = "x86_64")
{
    TestPackage p{name, version, QStringLiteral("1")};
    p.arch = arch;
    return p;
}

} // namespace

namespace RepositoryFixture
{

extern const QByteArray OfficeIcon;
const QByteArray OfficeIcon = QByteArrayLiteral("\x89PNG office picture");

// Several versions of one name, a newer build for another architecture, a noarch
// application, a package without AppStream data, one the overrides hide.
QVector<TestPackage> fixturePackages()
{
    return {package("cv-office", "1.0"),         package("cv-office", "1.2"),
            package("cv-arch", "2.0"),           package("cv-arch", "3.0", "i686"),
            package("cv-docs", "1.0", "noarch"), package("cv-tool", "1.0"),
            package("cv-hidden", "1.0"),         package("cv-music", "1.0")};
}

QVector<AppStreamEntry> fixtureApplications()
{
    return {{"cv-office",
             "Office",
             QStringLiteral("文思办公"),
             "Writes letters",
             {"Office"},
             OfficeIcon},
            {"cv-arch", "Arch", {}, "Two builds", {"Development", "Office"}, {}},
            {"cv-docs", "Docs", {}, "Learn", {"Science", "Education"}, {}},
            {"cv-hidden", "Hidden", {}, "Never shown", {"Utility"}, {}},
            {"cv-music", "Music", {}, "Plays", {"AudioVideo", "Audio"}, {}}};
}

extern const char *const FixtureOverrides;
const char *const FixtureOverrides = "# the tests' overrides\n"
                                     "hide cv-hidden\n"
                                     "add cv-tool\n"
                                     "name cv-tool   Tool  Box \n"
                                     "exec cv-tool cv-tool --start\n"
                                     "rpmdeps cv-tool cv-tool-data  cv-tool-lang\n"
                                     "star cv-music 5\n";

CatalogOverrides overrides(const QString &text)
{
    CatalogOverrides result;
    QString error;
    if (!result.parse(text, QStringLiteral("overrides"), &error))
        qFatal("fixture overrides: %s", qPrintable(error));
    return result;
}

QString metadataFile(const QString &repo, const QString &pattern)
{
    const QDir repodata(repo + QStringLiteral("/repodata"));
    return repodata.filePath(repodata.entryList({pattern}).value(0));
}

// What someone between the server and the repository, or a packager, changes: in the
// primary or AppStream file (repomd.xml made again by modifyrepo_c), or in the primary file
// alone ("primary-only", under the old repomd.xml).
bool alter(const QString &repo, const QString &file, const QString &from, const QString &to)
{
    if (file.isEmpty())
        return true;
    const QString primary = metadataFile(repo, QStringLiteral("*primary.xml*"));
    if (file == QLatin1String("appstream")) {
        const QString xml = AppStreamFile(fixtureApplications()).collectionXml();
        const QString path = repo + QStringLiteral("/../appstream.xml");
        return xml.contains(from) && writeFile(path, QString(xml).replace(from, to).toUtf8()) &&
               ProcessRunner::run("modifyrepo_c",
                                  {"--mdtype=appstream", path, repo + QStringLiteral("/repodata")})
                       .exitCode == 0;
    }
    const ProcessResult unpacked = ProcessRunner::run("zcat", {primary});
    if (unpacked.exitCode != 0 || !unpacked.output.contains(from))
        return false;
    const QByteArray xml = QString(unpacked.output).replace(from, to).toUtf8();
    if (file == QLatin1String("primary-only"))
        return writeFile(primary.chopped(3), xml) &&
               ProcessRunner::run("gzip", {"-f", primary.chopped(3)}).exitCode == 0;
    const QString path = repo + QStringLiteral("/../primary.xml");
    return writeFile(path, xml) &&
           ProcessRunner::run("modifyrepo_c",
                              {"--mdtype=primary", path, repo + QStringLiteral("/repodata")})
                   .exitCode == 0;
}

QString copyOf(const QTemporaryDir &work, const QString &repo)
{
    const QString copy = work.filePath(QStringLiteral("repo"));
    return ProcessRunner::run("cp", {"-a", repo, copy}).exitCode == 0 ? copy : QString();
}

} // namespace RepositoryFixture
