#pragma once

#include "testpackage.h"

#include <QString>
#include <QTemporaryDir>
#include <QVector>

// A local package repository built with rpmbuild and createrepo_c. Building takes a moment,
// so a test executable builds one and shares it between its sandboxes.
class TestRepository
{
public:
    explicit TestRepository(const QVector<TestPackage> &packages);

    bool isValid() const { return m_valid; }
    QString errorString() const { return m_error; }
    QString directory() const { return m_dir.path() + QStringLiteral("/repo"); }
    QString packageFile(const TestPackage &package) const;
    const QVector<TestPackage> &packages() const { return m_packages; }

    // Adds packages later (an update appearing on the server) and refreshes the metadata.
    bool add(const QVector<TestPackage> &packages);
    // Takes a package file out and refreshes the metadata.
    bool remove(const TestPackage &package);

    // The packages every test of the store can rely on: a few names in two versions.
    static QVector<TestPackage> standardPackages();
    // The standard package of that name and version; empty when there is none.
    static TestPackage standardPackage(const QString &name, const QString &version);
    // One shared repository of standardPackages() for this test executable.
    static TestRepository &shared();

private:
    bool build(const TestPackage &package);
    bool createMetadata();

    QTemporaryDir m_dir;
    QVector<TestPackage> m_packages;
    bool m_valid = false;
    QString m_error;
};
