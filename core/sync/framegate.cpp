#include "sync/framegate.h"

#include "records/clientconfig.h"
#include "sync/acceptedsequence.h"
#include "sync/cataloggroup.h"
#include "sync/framesignature.h"

#include <QDateTime>
#include <QDebug>

FrameGate::FrameGate(const QString &keyDirectory, const QString &database,
                     const QString &legacySequenceFile)
    : m_keyDirectory(keyDirectory), m_database(database), m_legacySequenceFile(legacySequenceFile)
{
}

const char *FrameGate::reasonOf(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Unchecked:
        return "not checked";
    case Verdict::Accepted:
        return "accepted";
    case Verdict::Unsigned:
        return TrustedKeys::reasonOf(TrustedKeys::Seal::Unsigned);
    case Verdict::UnknownKey:
        return TrustedKeys::reasonOf(TrustedKeys::Seal::UnknownKey);
    case Verdict::Forged:
        return TrustedKeys::reasonOf(TrustedKeys::Seal::Forged);
    case Verdict::Replayed:
        return "not newer than the last frame accepted";
    case Verdict::FolderRefused:
        return "the key folder is refused";
    case Verdict::Expired:
        return "expired";
    case Verdict::SequenceUnreadable:
        return "the sequence of the last frame accepted cannot be read";
    case Verdict::OtherGroup:
        return "made for another group of desktops";
    }
    return "";
}

void FrameGate::reloadKeys()
{
    m_keys.load(m_keyDirectory);
    // Problems are said when they change, not once per frame.
    const QStringList problems = m_keys.problems();
    if (problems != m_saidProblems)
        for (const QString &problem : problems)
            qWarning().noquote() << QStringLiteral("catalog keys: ") + problem;
    m_saidProblems = problems;
    if (!m_keys.isConfigured() && !m_saidUnchecked)
        qWarning().noquote() << QStringLiteral("catalog frames are not checked: no key in ") +
                                    m_keyDirectory;
    m_saidUnchecked = !m_keys.isConfigured();
}

bool FrameGate::isChecking()
{
    reloadKeys();
    return m_keys.isConfigured();
}

FrameGate::Verdict FrameGate::admit(const QByteArray &text)
{
    reloadKeys();
    m_accepted = 0;
    m_heartbeatBehind = false;
    const Verdict verdict = judge(text);
    if (verdict != Verdict::Unchecked && verdict != Verdict::Accepted)
        qWarning().noquote() << QStringLiteral("catalog frame dropped: ") +
                                    QLatin1String(reasonOf(verdict));
    return verdict;
}

bool FrameGate::isAddressedHere(const QByteArray &frame)
{
    static const QByteArray ClientStart = QByteArrayLiteral(" client='");
    const int start = frame.indexOf(ClientStart);
    const int end = frame.indexOf('\'', start + ClientStart.size());
    const QString local = ClientConfig::localip();
    return start >= 0 && end >= 0 && !local.isEmpty() &&
           frame.mid(start + ClientStart.size(), end - start - ClientStart.size()) ==
               local.toUtf8();
}

FrameGate::Verdict FrameGate::judge(const QByteArray &text)
{
    if (!m_keys.isConfigured())
        return Verdict::Unchecked;
    if (m_keys.isFolderRefused())
        return Verdict::FolderRefused;
    FrameSignature envelope;
    const TrustedKeys::Seal seal = m_keys.check(text, &envelope);
    if (seal != TrustedKeys::Seal::Sound)
        return TrustedKeys::verdictOf<Verdict>(seal);
    if (qint64(envelope.expires()) + ClockSkewSeconds < QDateTime::currentSecsSinceEpoch())
        return Verdict::Expired;
    // A join_resp changes nothing and comes before the catalog file a store fetches at
    // start-up: it neither needs the sequence nor moves it. The answer to this store's own
    // join says which group the server counts it in.
    if (envelope.isJoinResponse()) {
        if (!envelope.group().isEmpty() && isAddressedHere(envelope.frame()))
            CatalogGroup::learn(envelope.group(), envelope.sequence());
        return Verdict::Accepted;
    }
    if (!envelope.group().isEmpty() && envelope.group() != CatalogGroup::current())
        return Verdict::OtherGroup;
    // Read anew for every frame: only what a committed frame left counts.
    const std::optional<quint64> last = AcceptedSequence::load(m_database, m_legacySequenceFile);
    if (!last)
        return Verdict::SequenceUnreadable;
    if (envelope.sequence() <= *last)
        return Verdict::Replayed;
    // A heartbeat says the catalog is current only when this store has what it names; it moves
    // no sequence, so a push held back while heartbeats pass is still taken when it comes.
    if (envelope.isHeartbeat()) {
        m_heartbeatBehind = envelope.heartbeatLast() > *last;
        return Verdict::Accepted;
    }
    m_accepted = envelope.sequence();
    return Verdict::Accepted;
}
