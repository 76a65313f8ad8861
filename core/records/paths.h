#pragma once

#include <QString>

// Every fixed path of the store. Each one is the installation root (CORVANE_ROOT, empty by
// default) followed by the path the store documents, so a private root relocates them all.
namespace Paths
{

QString root();
QString underRoot(const QString &path);

QString configFile();
QString catalogDatabase();
QString localDatabase();
QString iconDirectory();
// Public keys of the catalog servers whose frames the store accepts (*.pub, PEM).
QString trustedKeyDirectory();
// The catalog server's service configuration (corvane-catalog-server --server-config).
QString catalogServerConfig();
// The sequence of the last signed frame accepted, kept across restarts.
QString frameSequenceFile();
// The store's reports to its catalog server until the server acknowledges them.
QString reportOutbox();
// The group the catalog server last said this store is in, kept across restarts.
QString catalogGroupFile();
// Taken (flock) by every process that runs rpm transactions on the desktop: the store and the
// agent never overlap.
QString rpmLockFile();
// The agent's own state: its database, and the folder its downloads go to.
QString agentDatabase();
QString agentDownloadDirectory();
// The catalog server's fleet database (fleet_db), in its state folder.
QString fleetDatabase();

QString installedListFile(); // rpm -qa snapshot
QString findRpmFile();
QString existRpmFile();
QString appIsRunningFile();
QString processYumFile();
QString packageSizeFile();
QString processFile();
QString dataDirectory();
QString catalogDataFile();
QString pushDataFile();
// The private files a task's command output goes through (QTemporaryFile template).
QString transcriptTemplate();

QString rpmDatabaseDirectory();
QString translationFile();
QString helpDocument();

// Not below the root: a program of the host, and a file relative to the working directory.
QString pdfViewer();
QString legacyDatabaseConfig();

} // namespace Paths
