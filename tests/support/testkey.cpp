#include "testkey.h"

#include "records/paths.h"

#include <QDir>
#include <QFile>

TestKey::TestKey()
{
    QString error;
    const SigningKey made = SigningKey::generate();
    if (!made.saveKeyPair(m_dir.path(), &error))
        qFatal("test key: %s", qPrintable(error));
    m_signer.setKey(SigningKey::loadPrivate(privateKeyFile(), &error));
}

TestKey &TestKey::catalog()
{
    static TestKey key;
    return key;
}

TestKey &TestKey::stranger()
{
    static TestKey key;
    return key;
}

bool TestKey::trust(const QString &fileName) const
{
    const QString directory = Paths::trustedKeyDirectory();
    const QString target = directory + QLatin1Char('/') + fileName;
    QFile::remove(target);
    return QDir().mkpath(directory) && QFile::copy(publicKeyFile(), target) &&
           QFile::setPermissions(target, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup |
                                             QFile::ReadOther);
}

QByteArray TestKey::seal(const QByteArray &frame, const QString &group)
{
    return m_signer.seal(frame, group);
}

QString TestKey::seal(const QString &frame, const QString &group)
{
    return m_signer.seal(frame, group);
}
