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
    const QByteArray updateInfo = QByteArray(FixtureUpdateInfo).replace(from.toUtf8(), to.toUtf8());
    if (file == QLatin1String("updateinfo"))
        return addUpdateInfo(repo, updateInfo);
    if (file == QLatin1String("updateinfo-only")) {
        // The fixture's, then another written over it under the same repomd.xml.
        if (!addUpdateInfo(repo, FixtureUpdateInfo))
            return false;
        const QString packed = metadataFile(repo, QStringLiteral("*updateinfo.xml.gz"));
        return writeFile(packed.chopped(3), updateInfo) &&
               ProcessRunner::run("gzip", {"-f", packed.chopped(3)}).exitCode == 0;
    }
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

QByteArray advisoryXml(const QString &id, const QString &type, const QString &severity,
                       const QString &title, const QString &issued, const QString &references,
                       const QString &packages)
{
    return QStringLiteral(
               "  <update from=\"security@example.org\" status=\"stable\" type=\"%1\" "
               "version=\"2.0\">\n    <id>%2</id>\n    <title>%3</title>\n"
               "    <severity>%4</severity>\n    <issued date=\"%5\"/>\n"
               "    <references>%6</references>\n    <description>fixes</description>\n"
               "    <pkglist><collection short=\"cv\"><name>cv</name>%7</collection></pkglist>\n"
               "  </update>\n")
        .arg(type, id, title, severity, issued, references, packages)
        .toUtf8();
}

extern const char *const FixtureUpdateInfo;
const char *const FixtureUpdateInfo = R"(<?xml version="1.0" encoding="UTF-8"?>
<updates>
  <update from="security@example.org" status="stable" type="security" version="2.0">
    <id>CVRA-2026:0101</id>
    <title>Critical: cv-office and cv-docs security update</title>
    <severity>Critical</severity>
    <issued date="2026-12-01 10:00:00"/>
    <references>
      <reference href="https://cve.example.org/CVE-2026-1111" id="CVE-2026-1111" type="cve" title="CVE-2026-1111"/>
      <reference href="https://cve.example.org/CVE-2026-1112" id="CVE-2026-1112" type="cve" title="CVE-2026-1112"/>
      <reference href="https://bugs.example.org/41" id="41" type="bugzilla" title="crash on open"/>
    </references>
    <description>Fixes two memory errors.</description>
    <pkglist><collection short="cv"><name>cv</name>
      <package name="cv-office" version="1.2" release="1" epoch="0" arch="x86_64"><filename>cv-office-1.2-1.x86_64.rpm</filename></package>
      <package name="cv-office" version="1.2" release="1" epoch="0" arch="src"><filename>cv-office-1.2-1.src.rpm</filename></package>
      <package name="cv-docs" version="1.0" release="1" epoch="0" arch="noarch"><filename>cv-docs-1.0-1.noarch.rpm</filename></package>
    </collection></pkglist>
  </update>
  <update from="security@example.org" status="stable" type="security" version="2.0">
    <id>CVRA-2026:0090</id>
    <title>Moderate: cv-office security update</title>
    <severity>Moderate</severity>
    <issued date="1764000000"/>
    <references><reference href="https://cve.example.org/CVE-2026-0999" id="CVE-2026-0999" type="cve" title="CVE-2026-0999"/></references>
    <pkglist><collection short="cv"><name>cv</name>
      <package name="cv-office" version="1.1" release="1" epoch="0" arch="x86_64"><filename>cv-office-1.1-1.x86_64.rpm</filename></package>
    </collection></pkglist>
  </update>
  <update from="updates@example.org" status="stable" type="enhancement" version="2.0">
    <id>CVEA-2026:0200</id>
    <title>cv-music plays more formats</title>
    <issued date="2026-11-20 08:00:00"/>
    <pkglist><collection short="cv"><name>cv</name>
      <package name="cv-music" version="1.0" release="1" epoch="0" arch="x86_64"><filename>cv-music-1.0-1.x86_64.rpm</filename></package>
    </collection></pkglist>
  </update>
  <update from="security@example.org" status="stable" type="security" version="2.0">
    <id>CVRA-2026:0300</id>
    <title>Important: cv-absent security update</title>
    <severity>Important</severity>
    <issued date="2026-11-30 00:00:00"/>
    <pkglist><collection short="cv"><name>cv</name>
      <package name="cv-absent" version="2.0" release="1" epoch="0" arch="x86_64"><filename>cv-absent-2.0-1.x86_64.rpm</filename></package>
    </collection></pkglist>
  </update>
  <update from="security@example.org" status="testing" type="security" version="2.0">
    <id>CVRA-2026:0400</id>
    <title>Low: cv-office 1.3 security update</title>
    <severity>Low</severity>
    <issued date="2026-12-05 00:00:00"/>
    <pkglist><collection short="cv"><name>cv</name>
      <package name="cv-office" version="1.3" release="1" epoch="0" arch="x86_64"><filename>cv-office-1.3-1.x86_64.rpm</filename></package>
    </collection></pkglist>
  </update>
</updates>
)";

bool addUpdateInfo(const QString &repo, const QByteArray &xml)
{
    const QString path = repo + QStringLiteral("/../updateinfo.xml");
    return writeFile(path, xml) &&
           ProcessRunner::run("modifyrepo_c",
                              {"--mdtype=updateinfo", path, repo + QStringLiteral("/repodata")})
                   .exitCode == 0;
}

QString copyOf(const QTemporaryDir &work, const QString &repo)
{
    const QString copy = work.filePath(QStringLiteral("repo"));
    return ProcessRunner::run("cp", {"-a", repo, copy}).exitCode == 0 ? copy : QString();
}

} // namespace RepositoryFixture
