#pragma once

#include "sync/planframe.h"

#include <QByteArray>
#include <QString>

// Lets a plan through only when a trusted catalog server signed it for this desktop (its
// address inside the signed bytes), recently, and after the last plan the agent acted on. The
// agent runs package work as root, so unlike the store's gate it never takes an unchecked
// frame: no key configured refuses every plan.
class PlanGate
{
public:
    enum class Verdict {
        Accepted,
        NoKey,        // no trusted key, or a key folder others may change
        Unsigned,     // no signature, or one not well formed
        UnknownKey,   // signed by a key the folder does not hold
        Forged,       // the signature does not match the bytes
        Malformed,    // not a plan, or a field out of kind or bound
        OtherDesktop, // made for another desktop
        Stale,        // issued longer ago than MaxAgeSeconds, or ahead of the clock
        Replayed,     // not newer than the last plan acted on
    };
    // Plans are signed again hourly; three hours leave room for a server restart.
    static constexpr qint64 MaxAgeSeconds = 3 * 3600;
    static constexpr qint64 ClockSkewSeconds = 600;

    // desktop: this desktop's address, as the server names it.
    PlanGate(const QString &keyDirectory, const QString &desktop)
        : m_keyDirectory(keyDirectory), m_desktop(desktop)
    {
    }

    // lastSequence: the sequence of the last plan acted on.
    Verdict admit(const QByteArray &text, quint64 lastSequence, qint64 now);
    const PlanFrame &plan() const { return m_plan; }
    quint64 sequence() const { return m_sequence; }
    static const char *reasonOf(Verdict verdict);

private:
    QString m_keyDirectory;
    QString m_desktop;
    PlanFrame m_plan;
    quint64 m_sequence = 0;
};
