// corvane-agent: carries out what the organisation requires of this desktop (its signed plan)
// in the maintenance windows, as root, beside the store.
#include "agentservice.h"

#include "records/clientconfig.h"
#include "records/paths.h"
#include "sync/reportsender.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDebug>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <csignal>

namespace
{
volatile std::sig_atomic_t stopRequested = 0;
void onSignal(int)
{
    stopRequested = 1;
}
} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
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
    qint64 fetchAt = 0;
    while (!stopRequested) {
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        if (now >= fetchAt) {
            QString said;
            agent.fetch(now, &said);
            if (!said.isEmpty())
                qInfo().noquote() << said;
            fetchAt = now + agent.nextFetch();
        }
        const qint64 wait = qMin(agent.work(QDateTime::currentDateTime()), fetchAt - now);
        for (qint64 slept = 0; slept < qMax<qint64>(1, wait) && !stopRequested; ++slept)
            QThread::sleep(1);
    }
    sender.stop();
    return 0;
}
