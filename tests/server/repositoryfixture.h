#pragma once

#include "server/repository/catalogoverrides.h"
#include "tests/support/testfiles.h"
#include "tests/support/testpackage.h"
#include "tools/demo-catalog/appstreamfile.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <QVector>

// The repository the catalog server's tests read, and what they do to copies of it.
namespace RepositoryFixture
{

extern const QByteArray OfficeIcon;
// Hides one package, adds and names another.
extern const char *const FixtureOverrides;

// Several versions of one name, a newer build for another architecture, a noarch
// application, a package without AppStream data, one the overrides hide.
QVector<TestPackage> fixturePackages();
QVector<AppStreamEntry> fixtureApplications();

using ::readFile;
using ::writeFile;
// Parsed, or the test stops.
CatalogOverrides overrides(const QString &text);
// The repodata file matching pattern.
QString metadataFile(const QString &repo, const QString &pattern);
// A copy of repo inside work; empty when it cannot be made.
QString copyOf(const QTemporaryDir &work, const QString &repo);
// Changes repo's "appstream", "primary" or "updateinfo" (the fixture's, added) file, from to
// to, and repomd.xml with it (modifyrepo_c);
// "primary-only": the primary file alone, under the old repomd.xml; "updateinfo-only": the
// fixture's updateinfo added, then changed under its repomd.xml. "" changes nothing.
bool alter(const QString &repo, const QString &file, const QString &from, const QString &to);

// An updateinfo shaped like the distributions': two security advisories for cv-office (one
// for an older build) and one of them for cv-docs too, a CVE list, an enhancement, an
// advisory for a package the catalog lacks and one for a build not yet published.
extern const char *const FixtureUpdateInfo;
// Adds xml as the repository's updateinfo (modifyrepo_c, compressed as it does).
bool addUpdateInfo(const QString &repo, const QByteArray &xml);
// An updateinfo of one advisory: its attributes, title, date, references and packages.
QByteArray advisoryXml(const QString &id, const QString &type, const QString &severity,
                       const QString &title, const QString &issued, const QString &references,
                       const QString &packages);

} // namespace RepositoryFixture
