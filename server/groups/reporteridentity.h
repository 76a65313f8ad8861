#pragma once

#include "groups/requestorigin.h"

#include <QString>

// Who sent a report: the one place that decides it. Through the broker, the desktop of the
// account the broker vouches for (as for requests: "desk-A" is A whatever the frame says).
// Over direct TCP, the address the connection came from (never what the frame names); it
// proves only that the sender could open a connection from that address.
class ReporterIdentity
{
public:
    explicit ReporterIdentity(const RequestOrigin &origin);

    // account: the broker's user-id, empty over direct TCP; peer: the TCP connection's address,
    // empty through the broker; claimed: the frame's client. Empty with *refusal set when no
    // desktop is.
    QString desktop(const QString &account, const QString &peer, const QString &claimed,
                    QString *refusal) const;

private:
    const RequestOrigin &m_origin;
};
