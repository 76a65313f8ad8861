#pragma once

#include "facade/clientdemon.h"
#include "tests/support/sandbox.h"
#include "tests/support/testpackage.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>

QByteArray localDb();
// Values in the column order of the catalog queries; a null text is stored as NULL.
bool addCatalogRow(const QStringList &values);
TestPackage package(const QString &name, const QString &version);

// What the facade's test classes share: a sandbox per test function, with cv-editor installed,
// and the facade started on it.
class FacadeFixture : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init();
    void cleanup();

protected:
    // Constructs the facade and waits until its load thread has recomputed the install
    // states, so that rows written afterwards are not overwritten.
    bool startFacade();

    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<ClientDemon> m_demon;
    std::unique_ptr<QTemporaryDir> m_tools;
    QString m_packages;
};
