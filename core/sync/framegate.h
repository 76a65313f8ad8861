#pragma once

#include "sync/trustedkeys.h"

#include <QByteArray>
#include <QStringList>

// Lets through only the frames a trusted catalog server signed, newer than the last one let
// through, whatever carried them (the transport, the catalog file, the push file). With no key
// in the key folder every frame passes unchecked, as it always did, and one line says so.
// The key folder is read anew for every frame, so keys can be added and removed while the
// store runs.
class FrameGate
{
public:
    enum class Verdict {
        Unchecked,          // no key configured
        Accepted,           // signed by a trusted key, newer than the last
        Unsigned,           // no signature, or one that is not well formed
        UnknownKey,         // signed by a key the folder does not hold
        Forged,             // the signature does not match the bytes
        Replayed,           // not newer than the last frame accepted
        FolderRefused,      // the key folder may be changed by others: nothing is trusted
        SequenceUnreadable, // the last sequence accepted cannot be read: nothing is newer
        Expired,            // past its expiry, or signed without one
        OtherGroup,         // made for a group of desktops this store is not in
    };

    // How far the store's clock may run ahead of the server's before a frame about to expire
    // is refused.
    static constexpr qint64 ClockSkewSeconds = 3600;

    // The last sequence accepted is read from database; legacySequenceFile is where it lived
    // before (moved into the database once).
    FrameGate(const QString &keyDirectory, const QString &database,
              const QString &legacySequenceFile);

    // The verdict on one received text; a frame dropped is said in one line.
    Verdict admit(const QByteArray &text);
    // True when keys are configured: the stop word is then taken only from this process.
    bool isChecking();
    // The sequence of the frame admit accepted last, for the writer to commit with its rows;
    // 0 when it moves no sequence (unchecked, a join_resp, or not accepted).
    quint64 acceptedSequence() const { return m_accepted; }
    // The heartbeat admit accepted last names a frame newer than any this store took: a push
    // was lost on the way, and the catalog must be asked for again.
    bool heartbeatBehind() const { return m_heartbeatBehind; }
    static const char *reasonOf(Verdict verdict);

private:
    Verdict judge(const QByteArray &text);
    // A join answer names the store it answers in its client attribute.
    static bool isAddressedHere(const QByteArray &frame);
    void reloadKeys();

    QString m_keyDirectory;
    TrustedKeys m_keys;
    QString m_database;
    QString m_legacySequenceFile;
    quint64 m_accepted = 0;
    bool m_heartbeatBehind = false;
    QStringList m_saidProblems;
    bool m_saidUnchecked = false;
};
