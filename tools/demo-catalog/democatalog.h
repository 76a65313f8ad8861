#pragma once

#include <QString>
#include <QVector>

// One application of the demo catalog, read from apps.tsv.
struct DemoApp {
    QString key;       // package name, icon name and command
    int category = 13; // 1..13
    QString version;   // catalog version
    QString installed; // "-" none, "old" an older version, "cur" this version
    QString star;
    QString name; // Chinese display name
    QString description;
};

// Builds the demo store's world in one directory: the icons of the HTTP file area (www/), the
// catalog for the catalog server (catalog.xml), a local repository with one tiny RPM per
// application and an older one for those shown as upgradable, with AppStream data (repo/),
// the catalog server's overrides (overrides.conf), and the package files to pre-install
// (preinstall.txt).
class DemoCatalog
{
public:
    static QVector<DemoApp> load(const QString &tsvPath, QString *error);
    static QString olderVersion(const QString &version);

    explicit DemoCatalog(QVector<DemoApp> apps) : m_apps(std::move(apps)) {}
    bool write(const QString &outDir, QString *error) const;
    // Puts a newer version of application key into the repository written before, as an
    // administrator publishes one; *published names the package file.
    bool publish(const QString &outDir, const QString &key, QString *published,
                 QString *error) const;

private:
    bool writeIcon(const DemoApp &app, const QString &path) const;
    bool buildPackage(const DemoApp &app, const QString &version, const QString &workDir,
                      QString *error) const;
    QString catalogDocument(const QVector<DemoApp> &apps) const;
    // The repository's AppStream data (checked with appstreamcli) and the overrides file
    // giving each application its rating and command.
    bool writeAppStream(const QString &outDir, QString *error) const;
    // The repository's advisories, as a distribution publishes them: the first upgradable
    // application's version fixes a critical one, the second an important one, the third
    // brings an enhancement; one names a package the repository lacks.
    bool writeUpdateInfo(const QString &outDir, QString *error) const;

    QVector<DemoApp> m_apps;
};
