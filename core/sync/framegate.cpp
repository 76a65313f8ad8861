#include "sync/framegate.h"

#include "sync/acceptedsequence.h"
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
        return "not signed";
    case Verdict::UnknownKey:
        return "signed by a key that is not trusted";
    case Verdict::Forged:
        return "signature does not match";
    case Verdict::Replayed:
        return "not newer than the last frame accepted";
    case Verdict::FolderRefused:
        return "the key folder is refused";
    case Verdict::Expired:
        return "expired";
    case Verdict::SequenceUnreadable:
        return "the sequence of the last frame accepted cannot be read";
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
    const Verdict verdict = judge(text);
    if (verdict != Verdict::Unchecked && verdict != Verdict::Accepted)
        qWarning().noquote() << QStringLiteral("catalog frame dropped: ") +
                                    QLatin1String(reasonOf(verdict));
    return verdict;
}

FrameGate::Verdict FrameGate::judge(const QByteArray &text)
{
    if (!m_keys.isConfigured())
        return Verdict::Unchecked;
    if (m_keys.isFolderRefused())
        return Verdict::FolderRefused;
    FrameSignature envelope;
    if (!envelope.read(text))
        return Verdict::Unsigned;
    const SigningKey *key = m_keys.find(envelope.keyId());
    if (!key)
        return Verdict::UnknownKey;
    if (!key->verify(envelope.signedBytes(), envelope.signature()))
        return Verdict::Forged;
    if (qint64(envelope.expires()) + ClockSkewSeconds < QDateTime::currentSecsSinceEpoch())
        return Verdict::Expired;
    // A join_resp changes nothing and comes before the catalog file a store fetches at
    // start-up: it neither needs the sequence nor moves it.
    if (envelope.isJoinResponse())
        return Verdict::Accepted;
    // Read anew for every frame: only what a committed frame left counts.
    const std::optional<quint64> last = AcceptedSequence::load(m_database, m_legacySequenceFile);
    if (!last)
        return Verdict::SequenceUnreadable;
    if (envelope.sequence() <= *last)
        return Verdict::Replayed;
    m_accepted = envelope.sequence();
    return Verdict::Accepted;
}
