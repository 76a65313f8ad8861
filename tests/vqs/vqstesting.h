#pragma once
// Plain sockets, ports and texts for the transport tests.

#include "tests/support/freeport.h"
#include "tests/support/testfiles.h"

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

#include <netinet/in.h>
#include <sys/types.h>

#include <string>
#include <utility>
#include <vector>

namespace VqsTesting
{

// Only bounds a failing wait, so a lost message fails the test instead of hanging it.
const int kWaitMs = 30000;

void usePort(unsigned short port);
in_addr address(const QString &text);
// An IPv4 address of this host outside loopback, or an empty string.
QString ownOutsideAddress();
// A plain TCP client that speaks to the receiver without the library.
int rawConnect(const QString &host, unsigned short port);
// A loopback listener whose accept queue is already full: later connection attempts meet
// silence, as with a host that drops them. Returns the listener and the connection holding
// the queue, or -1s.
std::pair<int, int> fullListener(unsigned short port);
bool rawWrite(int fd, const QByteArray &bytes);
QByteArray framed(const QByteArray &text);
// Ends our side of the stream and waits until the receiver has closed its side.
bool closedByReceiver(int fd);
QStringList toList(const std::vector<std::string> &texts);
// Files given away in the tests of refused files, and what is written to them.
uid_t nobody();
using ::readFile;
using ::writeFile;

// This process's environment, VQS_CONFIG naming settings.
QProcessEnvironment withSettings(const QString &settings);
// vqspeer run to its end; its standard error is kept.
struct PeerRun {
    int exitCode = -1; // -1 when it did not end by itself
    QString errors;
    QStringList lines; // of its standard output
};
PeerRun runPeer(const QStringList &arguments, const QProcessEnvironment &env);
// A stock AMQP client (amqp-publish with arguments) publishes body; true when it succeeded.
bool publishWithStockClient(const QStringList &arguments, const QByteArray &body);
// What "vqspeer recv count" (or another of its receiving commands) printed for its messages
// with VQS_CONFIG set to settings.
QStringList receiveInPeer(const QString &settings, int count, const QString &command = "recv");

} // namespace VqsTesting
