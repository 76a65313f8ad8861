#include "plangate.h"

#include "sync/framesignature.h"
#include "sync/trustedkeys.h"

const char *PlanGate::reasonOf(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Accepted:
        return "accepted";
    case Verdict::NoKey:
        return "no trusted key";
    case Verdict::Unsigned:
        return TrustedKeys::reasonOf(TrustedKeys::Seal::Unsigned);
    case Verdict::UnknownKey:
        return TrustedKeys::reasonOf(TrustedKeys::Seal::UnknownKey);
    case Verdict::Forged:
        return TrustedKeys::reasonOf(TrustedKeys::Seal::Forged);
    case Verdict::Malformed:
        return "not a well-formed plan";
    case Verdict::OtherDesktop:
        return "made for another desktop";
    case Verdict::Stale:
        return "not issued recently";
    case Verdict::Replayed:
        return "not newer than the last plan acted on";
    }
    return "";
}

PlanGate::Verdict PlanGate::admit(const QByteArray &text, quint64 lastSequence, qint64 now)
{
    m_plan = PlanFrame();
    m_sequence = 0;
    TrustedKeys keys;
    keys.load(m_keyDirectory);
    if (!keys.isConfigured() || keys.isFolderRefused() || keys.count() == 0)
        return Verdict::NoKey;
    FrameSignature envelope;
    const TrustedKeys::Seal seal = keys.check(text.trimmed(), &envelope);
    if (seal != TrustedKeys::Seal::Sound)
        return TrustedKeys::verdictOf<Verdict>(seal);
    PlanFrame plan;
    QString error;
    // A catalog frame signed by the same key is no plan: the action decides.
    if (!envelope.group().isEmpty() || !plan.parse(QString::fromUtf8(envelope.frame()), &error))
        return Verdict::Malformed;
    if (m_desktop.isEmpty() || plan.desktop != m_desktop)
        return Verdict::OtherDesktop;
    if (plan.issued < now - MaxAgeSeconds || plan.issued > now + ClockSkewSeconds)
        return Verdict::Stale;
    if (envelope.sequence() <= lastSequence)
        return Verdict::Replayed;
    m_plan = plan;
    m_sequence = envelope.sequence();
    return Verdict::Accepted;
}
