#pragma once

#include <QString>

// Whom the catalog server answers a request. Through the broker, the desktop of the account the
// broker vouches for (RabbitMQ refuses a message whose user-id is not its publisher's login),
// whatever address the frame names: "desk-A" is answered at A; "group-P" at the frame's
// address when it lies within P. Over direct TCP nothing vouches for the sender: the frame's
// address is answered; over direct TCP the address the connection came from, whatever the
// frame names, but never anything that is not one desktop (nor the server itself).
class RequestOrigin
{
public:
    // broadcast and own: the broker's broadcast address and the server's own address there;
    // with direct TCP broadcast is empty and own the address the server receives on.
    RequestOrigin(const QString &broadcast, const QString &own);

    // account: the validated user-id, empty over direct TCP; peer: the address of the TCP
    // connection, empty through the broker. The address to answer, or an empty string with
    // *refusal saying why none is.
    QString answerAddress(const QString &account, const QString &frameClient, const QString &peer,
                          QString *refusal) const;
    // The prefix P of a group account "group-P", or an empty string for any other account.
    static QString groupPrefix(const QString &account);

private:
    // A dotted IPv4 address of one desktop: not 0.0.0.0, a broadcast or multicast address, or
    // the server itself.
    bool isDesktopAddress(const QString &text) const;

    const QString m_broadcast;
    const QString m_own;
};
