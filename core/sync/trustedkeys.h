#pragma once

#include "sync/signingkey.h"

#include <QString>
#include <QStringList>
#include <map>

class FrameSignature;

// The public keys a store accepts frames from: every *.pub file of one folder, so a new key
// can be added before the old one is removed. The folder and each file must belong to root
// (or the account running the store) and be writable by nobody else; a key file that is not
// is refused, and a folder that is not refuses every key.
class TrustedKeys
{
public:
    void load(const QString &directory);

    // True when the folder holds at least one key file, refused or not: frames are checked.
    bool isConfigured() const { return m_configured; }
    // True when the folder itself may be changed by others: no key of it is trusted.
    bool isFolderRefused() const { return m_folderRefused; }
    const SigningKey *find(const QByteArray &id) const;

    // How a signed frame stands against these keys: the checks every gate makes first.
    enum class Seal { Sound, Unsigned, UnknownKey, Forged };
    // The envelope is read into *envelope.
    Seal check(const QByteArray &text, FrameSignature *envelope) const;
    static const char *reasonOf(Seal seal);
    // A gate's own verdict of the same name (Unsigned, UnknownKey, Forged) for a broken seal.
    template <typename Verdict> static Verdict verdictOf(Seal seal)
    {
        return seal == Seal::Unsigned     ? Verdict::Unsigned
               : seal == Seal::UnknownKey ? Verdict::UnknownKey
                                          : Verdict::Forged;
    }
    int count() const { return int(m_keys.size()); }
    // Why files or the folder were refused, one line each.
    QStringList problems() const { return m_problems; }

private:
    void loadFile(const QString &directory, const QString &name);

    std::map<QByteArray, SigningKey> m_keys;
    QStringList m_problems;
    bool m_configured = false;
    bool m_folderRefused = false;
};
