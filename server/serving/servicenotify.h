#pragma once

#include <QByteArray>

// Tells the service manager how the service stands ("READY=1", "STOPPING=1", "STATUS=...")
// through the datagram socket NOTIFY_SOCKET names; nothing when it names none.
namespace ServiceNotify
{

// False when a socket was named and the state could not be sent.
bool send(const QByteArray &state);

} // namespace ServiceNotify
