#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

struct gpgme_context;

// The repository's OpenPGP signature, checked as dnf's repo_gpgcheck checks it: a detached,
// armored signature over repodata/repomd.xml by the one key the administrator names. The key
// lives in a GnuPG home of its own, made for this process and holding nothing else, so no
// keyring of the service account is trusted or changed.
class RepositorySignature
{
public:
    RepositorySignature();
    ~RepositorySignature();
    RepositorySignature(const RepositorySignature &) = delete;
    RepositorySignature &operator=(const RepositorySignature &) = delete;

    // Imports the public key(s) of keyFile. False with *error set when none can be imported.
    bool load(const QString &keyFile, QString *error);
    // True only when signature holds a good signature over exactly data, made by the loaded
    // key; else false with *error set.
    bool verify(const QByteArray &data, const QByteArray &signature, QString *error) const;

    // Removes the private GnuPG home now; checks fail from then on.
    void removeHome() { m_home.remove(); }

    static QString signaturePath(const QString &repomdPath);

private:
    QTemporaryDir m_home;
    gpgme_context *m_context = nullptr;
    QStringList m_fingerprints; // of the key and its subkeys, upper case
};
