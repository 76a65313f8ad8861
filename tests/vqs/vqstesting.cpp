#include "vqstesting.h"

#ifndef VQS_PEER_PROGRAM
#error "VQS_PEER_PROGRAM must name vqspeer"
#endif

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QtGlobal>

#include <cerrno>
#include <cstring>

namespace VqsTesting
{

void usePort(unsigned short port)
{
    qputenv("VQS_PORT", QByteArray::number(port));
}

in_addr address(const QString &text)
{
    in_addr addr{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &addr) != 1)
        qFatal("bad address in test data: %s", qPrintable(text));
    return addr;
}

// An IPv4 address of this host outside loopback, or an empty string.
QString ownOutsideAddress()
{
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return QString();
    QString found;
    for (ifaddrs *i = list; i && found.isEmpty(); i = i->ifa_next) {
        if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !(i->ifa_flags & IFF_UP) ||
            (i->ifa_flags & IFF_LOOPBACK))
            continue;
        char text[INET_ADDRSTRLEN];
        inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in *>(i->ifa_addr)->sin_addr, text,
                  sizeof text);
        found = QString::fromLatin1(text);
    }
    freeifaddrs(list);
    return found;
}

// A plain TCP client that speaks to the receiver without the library.
int rawConnect(const QString &host, unsigned short port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = address(host);
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0)
        return fd;
    if (fd >= 0)
        close(fd);
    return -1;
}

// A loopback listener whose accept queue is already full: later connection attempts meet
// silence, as with a host that drops them. Returns the listener and the connection holding
// the queue, or -1s.
std::pair<int, int> fullListener(unsigned short port)
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(port);
    sa.sin_addr = address("127.0.0.1");
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0 ||
        listen(fd, 0) != 0) {
        if (fd >= 0)
            close(fd);
        return {-1, -1};
    }
    return {fd, rawConnect("127.0.0.1", port)};
}

bool rawWrite(int fd, const QByteArray &bytes)
{
    return send(fd, bytes.constData(), bytes.size(), MSG_NOSIGNAL) == bytes.size();
}

QByteArray framed(const QByteArray &text)
{
    const quint32 wire = htonl(text.size());
    return QByteArray(reinterpret_cast<const char *>(&wire), 4) + text;
}

// Ends our side of the stream and waits until the receiver has closed its side.
bool closedByReceiver(int fd)
{
    shutdown(fd, SHUT_WR);
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, kWaitMs) != 1)
        return false;
    char byte;
    const ssize_t n = read(fd, &byte, 1);
    return n == 0 || (n < 0 && errno == ECONNRESET);
}

QStringList toList(const std::vector<std::string> &texts)
{
    QStringList list;
    for (const std::string &text : texts)
        list << QString::fromStdString(text);
    return list;
}

uid_t nobody()
{
    const passwd *account = getpwnam("nobody");
    return account ? account->pw_uid : uid_t(65534);
}

QProcessEnvironment withSettings(const QString &settings)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VQS_CONFIG", settings);
    return env;
}

PeerRun runPeer(const QStringList &arguments, const QProcessEnvironment &env)
{
    QProcess peer;
    peer.setProcessEnvironment(env);
    peer.start(VQS_PEER_PROGRAM, arguments);
    PeerRun run;
    if (peer.waitForFinished(kWaitMs) && peer.exitStatus() == QProcess::NormalExit)
        run.exitCode = peer.exitCode();
    run.errors = QString::fromUtf8(peer.readAllStandardError());
    run.lines = QString::fromUtf8(peer.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
    return run;
}

bool publishWithStockClient(const QStringList &arguments, const QByteArray &body)
{
    QProcess tool;
    tool.setProcessChannelMode(QProcess::ForwardedChannels);
    tool.start(QStringLiteral("amqp-publish"), arguments);
    if (!tool.waitForStarted(kWaitMs))
        return false;
    tool.write(body);
    tool.closeWriteChannel();
    return tool.waitForFinished(kWaitMs) && tool.exitStatus() == QProcess::NormalExit &&
           tool.exitCode() == 0;
}

QStringList receiveInPeer(const QString &settings, int count, const QString &command)
{
    QProcess peer;
    peer.setProcessEnvironment(withSettings(settings));
    peer.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    peer.start(VQS_PEER_PROGRAM, {command, QString::number(count)});
    if (!peer.waitForFinished(kWaitMs))
        peer.kill();
    peer.waitForFinished();
    QStringList lines = QString::fromUtf8(peer.readAllStandardOutput()).split('\n');
    if (lines.value(0) != QLatin1String("init 0"))
        return {QStringLiteral("no receiver: ") + lines.join('|')};
    return lines.mid(1, count);
}

} // namespace VqsTesting
