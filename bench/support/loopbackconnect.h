#pragma once

#include <QString>

// A TCP connection to the catalog server on 127.0.0.2:port from the loopback address from, as
// a desktop there would open it; -1 when it cannot be made.
int connectFrom(const QString &from, unsigned short port);
