#pragma once

#include "processrunner.h"
#include "testpackage.h"

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class TestRepository;

// A private installation root for one test: CORVANE_ROOT points at it, PATH starts with the
// rpm/yum/notify-send shims and VQS_CONFIG chooses the direct TCP transport while it lives. It
// holds the client configuration, both databases with their tables, the icon and scratch
// directories and a private RPM database; yum installs from the given local repository only. The
// host's files are never touched.
class Sandbox
{
public:
    explicit Sandbox(const TestRepository *repository = nullptr);
    ~Sandbox();
    Sandbox(const Sandbox &) = delete;
    Sandbox &operator=(const Sandbox &) = delete;

    bool isValid() const { return m_error.isEmpty(); }
    QString errorString() const { return m_error; }

    QString root() const { return m_dir.path(); }
    // A documented absolute path inside this root.
    QString path(const QString &documented) const { return root() + documented; }
    // The download directory configured as pkgpath.
    QString packageDirectory() const { return path(QStringLiteral("/var/cache/corvane/packages")); }

    // Sets keys of the client-conf section; the others keep their values.
    void setConfig(const QString &key, const QString &value);
    void removeConfig(const QString &key);

    // Puts a folder of replacement tools (a failing yum, a fast sleep) before the shims.
    void prependPath(const QString &directory);

    // The sandbox's rpm, through the shim.
    ProcessResult rpm(const QStringList &arguments) const;
    QStringList installedPackages() const; // rpm -qa, sorted
    // True when the x86_64 package of this package string is installed.
    bool isInstalled(const QString &packageString) const;
    bool install(const TestPackage &package) const;
    // Enters packages that hold no files into the RPM database, thousands in seconds: one
    // rpmbuild of subpackages and one rpm transaction. False with *error set on failure.
    bool installEmpty(const QVector<TestPackage> &packages, QString *error) const;

    // Desktop notifications sent so far, one entry per notify-send call (arguments tab-separated).
    QStringList notifications() const;

private:
    void writeConfig();
    bool setUpRpm(const TestRepository *repository);

    QTemporaryDir m_dir;
    QString m_error;
    QMap<QString, QString> m_config;
    const TestRepository *m_repository;
    QByteArray m_savedRoot;
    QByteArray m_savedPath;
    QByteArray m_savedTransport;
    bool m_hadRoot;
    bool m_hadTransport;
};
