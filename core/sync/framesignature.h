#pragma once

#include <QByteArray>
#include <QString>

class SigningKey;

// How a signature travels with a frame: as the first attributes of its root element, so a
// store that checks nothing reads a signed frame as any other:
//
//   <frame signature='KEYID:BASE64' sequence='N' expires='T' action='...' group='G'>...</frame>
//
// group names the group of desktops the frame was made for; a frame for every group names
// none. It is the root's last attribute, so a store that knows no groups reads the action
// where it always was.
// The signature covers everything after the signature attribute's closing quote (the
// sequence and expiry included) up to the end of the frame; a newline after it, as the
// catalog and push files have, is not part of the frame. The sequence grows with every frame
// a server signs, so a frame sent again later can be told from a newer one; past its expiry
// (Unix seconds) a frame is refused, so an old one cannot bring an old catalog back.
class FrameSignature
{
public:
    // The frame (starting "<frame") signed with key under sequence; empty when it is no frame
    // or the key cannot sign.
    static QByteArray seal(const QByteArray &frame, quint64 sequence, quint64 expires,
                           const SigningKey &key, const QString &group = QString());
    // The bytes a seal adds to a frame at most: room a server keeps free in each frame.
    static constexpr int Overhead = 280;
    // A group's name: what a server accepts, and a store uses as a folder name.
    static bool isGroupName(const QString &name);

    // Reads the envelope of a received text; false when it carries none (unsigned) or one
    // that is not well formed.
    bool read(const QByteArray &text);
    bool isWellFormed() const { return m_wellFormed; }

    QByteArray keyId() const { return m_keyId; }
    QByteArray signature() const { return m_signature; }
    quint64 sequence() const { return m_sequence; }
    // Unix seconds; 0 when the frame carries no expiry.
    quint64 expires() const { return m_expires; }
    // The frame as it was before it was sealed.
    QByteArray frame() const;
    bool isJoinResponse() const;
    bool isHeartbeat() const;
    // The sequence a heartbeat names: the last frame its group was sent (0: none named).
    quint64 heartbeatLast() const;
    // The group the frame was made for; empty for every group.
    QString group() const { return m_group; }
    // What the signature covers.
    QByteArray signedBytes() const;

private:
    QByteArray m_keyId;
    QByteArray m_signature;
    QByteArray m_body;
    QString m_group;
    int m_frameStart = 0; // where the frame's own attributes start in m_body
    quint64 m_sequence = 0;
    quint64 m_expires = 0;
    bool m_wellFormed = false;
};
