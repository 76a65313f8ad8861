#include "sync/framesignature.h"

#include "sync/signingkey.h"

#include <QRegularExpression>

namespace
{

const QByteArray Root = QByteArrayLiteral("<frame");
const QByteArray SignatureStart = QByteArrayLiteral("<frame signature='");
const QByteArray SequenceStart = QByteArrayLiteral(" sequence='");
const QByteArray ExpiresStart = QByteArrayLiteral(" expires='");
const QByteArray GroupStart = QByteArrayLiteral(" group='");
// Keeps a signature over a frame from ever verifying as a signature over anything else.
const QByteArray Domain = QByteArrayLiteral("corvane catalog frame\n");

bool isHex(const QByteArray &text)
{
    for (char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f')))
            return false;
    return true;
}

// Digits only, without a sign or a leading zero, and within 64 bits.
bool readSequence(const QByteArray &digits, quint64 *value)
{
    if (digits.isEmpty() || digits.size() > 20 || (digits.size() > 1 && digits.at(0) == '0'))
        return false;
    for (char c : digits)
        if (c < '0' || c > '9')
            return false;
    bool ok = false;
    *value = digits.toULongLong(&ok);
    return ok;
}

} // namespace

bool FrameSignature::isGroupName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,63}$"));
    return pattern.match(name).hasMatch();
}

QByteArray FrameSignature::seal(const QByteArray &frame, quint64 sequence, quint64 expires,
                                const SigningKey &key, const QString &group)
{
    if (!frame.startsWith(Root) || frame.size() == Root.size())
        return QByteArray();
    const char next = frame.at(Root.size());
    if (next != ' ' && next != '>' && next != '/')
        return QByteArray();
    QByteArray own = frame.mid(Root.size());
    if (!group.isEmpty()) {
        const int tagEnd = own.indexOf('>');
        if (!isGroupName(group) || tagEnd < 0 || own.left(tagEnd).contains(GroupStart))
            return QByteArray();
        own.insert(tagEnd > 0 && own.at(tagEnd - 1) == '/' ? tagEnd - 1 : tagEnd,
                   GroupStart + group.toLatin1() + '\'');
    }
    const QByteArray body = SequenceStart + QByteArray::number(sequence) + '\'' + ExpiresStart +
                            QByteArray::number(expires) + '\'' + own;
    const QByteArray signature = key.sign(Domain + body);
    if (signature.isEmpty())
        return QByteArray();
    return SignatureStart + key.id() + ':' + signature.toBase64() + '\'' + body;
}

bool FrameSignature::read(const QByteArray &received)
{
    m_wellFormed = false;
    m_expires = 0;
    QByteArray text = received;
    if (text.endsWith('\n'))
        text.chop(1);
    if (!text.startsWith(SignatureStart))
        return false;
    const int valueEnd = text.indexOf('\'', SignatureStart.size());
    if (valueEnd < 0)
        return false;
    const QByteArray value = text.mid(SignatureStart.size(), valueEnd - SignatureStart.size());
    const int colon = value.indexOf(':');
    m_keyId = value.left(colon);
    const QByteArray encoded = value.mid(colon + 1);
    m_signature = QByteArray::fromBase64(encoded);
    if (colon != SigningKey::IdLength || !isHex(m_keyId) ||
        m_signature.size() != SigningKey::SignatureLength || m_signature.toBase64() != encoded)
        return false;
    m_body = text.mid(valueEnd + 1);
    if (!m_body.startsWith(SequenceStart))
        return false;
    const int sequenceEnd = m_body.indexOf('\'', SequenceStart.size());
    if (sequenceEnd < 0 ||
        !readSequence(m_body.mid(SequenceStart.size(), sequenceEnd - SequenceStart.size()),
                      &m_sequence))
        return false;
    m_frameStart = sequenceEnd + 1;
    // Optional here, as frames signed before expiry existed have none; the gate refuses those.
    if (m_body.mid(m_frameStart).startsWith(ExpiresStart)) {
        const int valueStart = m_frameStart + ExpiresStart.size();
        const int expiresEnd = m_body.indexOf('\'', valueStart);
        if (expiresEnd < 0 ||
            !readSequence(m_body.mid(valueStart, expiresEnd - valueStart), &m_expires) ||
            m_expires == 0)
            return false;
        m_frameStart = expiresEnd + 1;
    }
    // The group, among the root's attributes (none of which holds a '>').
    m_group.clear();
    const int tagEnd = m_body.indexOf('>', m_frameStart);
    const int groupAt = m_body.indexOf(GroupStart, m_frameStart);
    if (groupAt >= 0 && groupAt < tagEnd) {
        const int valueStart = groupAt + GroupStart.size();
        const int groupEnd = m_body.indexOf('\'', valueStart);
        m_group = QString::fromLatin1(m_body.mid(valueStart, groupEnd - valueStart));
        if (groupEnd < 0 || groupEnd > tagEnd || !isGroupName(m_group))
            return false;
    }
    m_wellFormed = true;
    return true;
}

QByteArray FrameSignature::frame() const
{
    return Root + m_body.mid(m_frameStart);
}

bool FrameSignature::isJoinResponse() const
{
    return m_body.mid(m_frameStart).startsWith(" action='join_resp'");
}

bool FrameSignature::isHeartbeat() const
{
    return m_body.mid(m_frameStart).startsWith(" action='heartbeat'");
}

quint64 FrameSignature::heartbeatLast() const
{
    static const QByteArray LastStart = QByteArrayLiteral(" last='");
    const int tagEnd = m_body.indexOf('>', m_frameStart);
    const int at = m_body.indexOf(LastStart, m_frameStart);
    if (at < 0 || at > tagEnd)
        return 0;
    const int valueStart = at + LastStart.size();
    const int end = m_body.indexOf('\'', valueStart);
    quint64 last = 0;
    return end > 0 && end < tagEnd && readSequence(m_body.mid(valueStart, end - valueStart), &last)
               ? last
               : 0;
}

QByteArray FrameSignature::signedBytes() const
{
    return Domain + m_body;
}
