#pragma once

#include "sync/framesigner.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

// A catalog server's key pair, made once per test process: catalog() is the one the tests'
// stores trust, stranger() one they never do.
class TestKey
{
public:
    static TestKey &catalog();
    static TestKey &stranger();

    // catalog.key (mode 0600) and catalog.pub in a folder of their own.
    QString privateKeyFile() const { return m_dir.path() + QStringLiteral("/catalog.key"); }
    QString publicKeyFile() const { return m_dir.path() + QStringLiteral("/catalog.pub"); }
    QByteArray id() const { return m_signer.keyId(); }

    // Copies the public key into the current root's key folder as fileName.
    bool trust(const QString &fileName = QStringLiteral("catalog.pub")) const;
    // The frame signed under the next sequence.
    // Sealed for group's desktops, or for every group.
    QByteArray seal(const QByteArray &frame, const QString &group = QString());
    QString seal(const QString &frame, const QString &group = QString());

private:
    TestKey();

    QTemporaryDir m_dir;
    FrameSigner m_signer;
};
