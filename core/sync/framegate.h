#pragma once

#include "sync/framesequence.h"
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
        Unchecked,     // no key configured
        Accepted,      // signed by a trusted key, newer than the last
        Unsigned,      // no signature, or one that is not well formed
        UnknownKey,    // signed by a key the folder does not hold
        Forged,        // the signature does not match the bytes
        Replayed,      // not newer than the last frame accepted
        FolderRefused, // the key folder may be changed by others: nothing is trusted
    };

    FrameGate(const QString &keyDirectory, const QString &sequenceFile);

    // The verdict on one received text; a frame dropped is said in one line.
    Verdict admit(const QByteArray &text);
    // True when keys are configured: the stop word is then taken only from this process.
    bool isChecking();
    static const char *reasonOf(Verdict verdict);

private:
    Verdict judge(const QByteArray &text);
    void reloadKeys();

    QString m_keyDirectory;
    TrustedKeys m_keys;
    FrameSequence m_sequence;
    QStringList m_saidProblems;
    bool m_saidUnchecked = false;
};
