#pragma once

#include <QString>
#include <QTemporaryDir>

// An OpenPGP key pair made by gpg in a GnuPG home of its own, as an administrator makes the
// key a repository is signed with.
class OpenPgpTestKey
{
public:
    explicit OpenPgpTestKey(const QString &user);
    // Stops the gpg-agent that signing started in the home.
    ~OpenPgpTestKey();
    OpenPgpTestKey(const OpenPgpTestKey &) = delete;
    OpenPgpTestKey &operator=(const OpenPgpTestKey &) = delete;

    bool isValid() const { return m_valid; }
    // The armored public key, as dnf's gpgkey.
    QString publicKeyFile() const { return m_home.filePath(QStringLiteral("public.asc")); }
    // FILE.asc, as "gpg --detach-sign --armor FILE" writes it.
    bool signDetached(const QString &file) const;

private:
    QTemporaryDir m_home;
    bool m_valid = false;
};
