// corvane-agent: carries out what the organisation requires of this desktop (its signed plan)
// in the maintenance windows, as root, beside the store.
#include "agentservice.h"

#include "records/clientconfig.h"
#include "records/paths.h"
#include "sync/reportsender.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDebug>
#include <QEventLoop>
#include <QTimer>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

namespace
{
// A stop signal writes into this pipe: the loop sleeps in poll() until its next due time and
// still wakes the moment one comes, also one that came just before it went to sleep.
int stopPipe[2] = {-1, -1};

void onSignal(int)
{
    const int saved = errno;
    const char byte = 1;
    // Non-blocking: a storm of signals fills the pipe and loses nothing that matters.
    [[maybe_unused]] const ssize_t wrote = ::write(stopPipe[1], &byte, 1);
    errno = saved;
}

// Sleeps for seconds or until a stop signal; true when one came (the pipe stays readable).
bool stopWithin(qint64 seconds)
{
    const QDeadlineTimer deadline(seconds * 1000);
    pollfd watched{stopPipe[0], POLLIN, 0};
    for (;;) {
        const int ready = ::poll(&watched, 1, int(qMin<qint64>(deadline.remainingTime(), 1 << 30)));
        if (ready >= 0 || errno != EINTR)
            return ready > 0;
    }
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    if (::pipe2(stopPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        qCritical("corvane-agent: no pipe for its stop signal");
        return 1;
    }
    std::signal(SIGTERM, onSignal);
    std::signal(SIGINT, onSignal);
    AgentService::Settings settings;
    settings.database = Paths::agentDatabase();
    settings.keyDirectory = Paths::trustedKeyDirectory();
    settings.desktop = ClientConfig::localip();
    settings.baseUrl = ClientConfig::iconurl();
    const QByteArray every = qgetenv("CORVANE_AGENT_FETCH_SECONDS");
    if (every.toLongLong() > 0)
        settings.fetchSeconds = every.toLongLong();
    AgentService agent(settings);
    QString error;
    if (!agent.open(&error)) {
        qCritical().noquote() << error;
        return 1;
    }
    ReportSender sender;
    sender.start();
    // --once: one fetch and one look, then the reports handed to the transport; for a timer
    // unit or a test.
    if (application.arguments().contains(QStringLiteral("--once"))) {
        QString said;
        agent.fetch(QDateTime::currentSecsSinceEpoch(), &said);
        if (!said.isEmpty())
            qInfo().noquote() << said;
        agent.work(QDateTime::currentDateTime());
        QEventLoop loop;
        QObject::connect(&sender, &ReportSender::sent, &loop, &QEventLoop::quit);
        QTimer::singleShot(10000, &loop, &QEventLoop::quit);
        ReportSender::reportsAdded();
        loop.exec();
        sender.stop();
        return 0;
    }
    // Awake only when a fetch or an item is due: no wake-up a second while nothing is.
    qint64 fetchAt = 0;
    qint64 wait = 0;
    do {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (now >= fetchAt) {
            QString said;
            agent.fetch(now, &said);
            if (!said.isEmpty())
                qInfo().noquote() << said;
            fetchAt = now + agent.nextFetch();
        }
        wait = qMax<qint64>(1, qMin(agent.work(QDateTime::currentDateTime()), fetchAt - now));
    } while (!stopWithin(wait));
    sender.stop();
    return 0;
}
