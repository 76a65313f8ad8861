#pragma once

#include <QtGlobal>

// A TCP port nothing listens on at the moment, on any address, for one test's transport or
// server. Each test takes its own, so that tests may run side by side.
quint16 freePort();

// This process's transport listens on loopback only, at a free port of its own (VQS_BIND,
// VQS_PORT); returns the port.
quint16 useLoopbackTransport();
