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
// Changes repo's "appstream" or "primary" file, from to to, and repomd.xml with it (modifyrepo_c);
// "primary-only": the primary file alone, under the old repomd.xml. "" changes nothing.
bool alter(const QString &repo, const QString &file, const QString &from, const QString &to);

} // namespace RepositoryFixture
