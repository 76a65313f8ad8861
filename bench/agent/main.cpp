// What the desktop agent costs while it waits: the real corvane-agent in daemon mode, in a
// private sandbox root, its signed plan (one item, its window hours away) served from a
// loopback HTTP server. Measured from /proc over an interval with no fetch due (the idle
// wakes) and over one with a fetch every few seconds (CORVANE_AGENT_FETCH_SECONDS), the
// fetches counted as they happen; scaled to a day at the default period of 15 minutes.
// Floor: this program started with --bare, a QCoreApplication in its event loop, measured
// the same way. Usage: bench_agent [--agent PATH] [--seconds N].
#include "bench/support/benchpackages.h"
#include "bench/support/processstatus.h"
#include "records/paths.h"
#include "sync/planframe.h"
#include "tests/support/httpserver.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <cstdio>
#include <sys/inotify.h>
#include <unistd.h>

namespace
{

constexpr qint64 DefaultFetchSeconds = 15 * 60;
constexpr qint64 ShortFetchSeconds = 2;
constexpr qint64 NoFetchSeconds = 100 * 24 * 3600;
constexpr double DaySeconds = 24 * 3600;
constexpr int SettleSeconds = 3;

// The one item: the first application, its window hours from now, its deadline next year.
QByteArray signedPlan(const QString &desktop)
{
    const int minute = QTime::currentTime().msecsSinceStartOfDay() / 60000;
    PlanFrame plan;
    plan.desktop = desktop;
    plan.issued = QDateTime::currentSecsSinceEpoch();
    PlanFrame::Item item;
    item.package = QStringLiteral("cv-editor");
    item.versionRelease = QStringLiteral("2.0-1");
    item.deadline = plan.issued + 365 * 24 * 3600;
    item.windowStart = (minute + 6 * 60) % (24 * 60);
    item.windowEnd = (minute + 8 * 60) % (24 * 60);
    item.notice = 3600;
    plan.items << item;
    return TestKey::catalog().seal(plan.compose().toUtf8()) + '\n';
}

// The agent's fetches as they land: each writes its download beside the database and removes
// it (watched too, so that inotify never folds two creations into one event).
class FetchCounter
{
public:
    explicit FetchCounter(const QString &folder)
        : m_fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC)),
          m_watch(
              inotify_add_watch(m_fd, QFile::encodeName(folder).constData(), IN_CREATE | IN_DELETE))
    {
    }
    ~FetchCounter() { ::close(m_fd); }
    bool isValid() const { return m_fd >= 0 && m_watch >= 0; }
    // The fetches since the last call.
    int take()
    {
        alignas(inotify_event) char buffer[65536];
        int fetches = 0;
        ssize_t got;
        while ((got = ::read(m_fd, buffer, sizeof buffer)) > 0)
            for (char *at = buffer; at < buffer + got;) {
                const auto *event = reinterpret_cast<const inotify_event *>(at);
                if ((event->mask & IN_CREATE) && event->len &&
                    QByteArray(event->name).endsWith(".fetched"))
                    ++fetches;
                at += sizeof(inotify_event) + event->len;
            }
        return fetches;
    }

private:
    int m_fd;
    int m_watch;
};

// CPU time (ms) of a process: its own, every thread's time on a CPU from schedstat (in
// nanoseconds: utime and stime count 10 ms ticks, coarser than a minute of idle wakes), and
// with the children it waited for (wget, rpm: cutime + cstime of /proc/PID/stat).
struct CpuTime {
    double own = -1;
    double withChildren = -1;
};
CpuTime cpuOf(qint64 pid)
{
    QFile file(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray text = file.readAll();
    // The fields after the command's closing parenthesis; cutime is the 16th field.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double tick = 1000.0 / double(sysconf(_SC_CLK_TCK));
    double ownNs = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile schedstat(tasks + QLatin1Char('/') + tid + QStringLiteral("/schedstat"));
        if (schedstat.open(QIODevice::ReadOnly))
            ownNs += schedstat.readAll().split(' ').value(0).toDouble();
    }
    const double own = ownNs / 1e6;
    return {own, own + (fields.value(13).toDouble() + fields.value(14).toDouble()) * tick};
}

// Wakes of every thread so far (voluntary and forced context switches).
double wakesOf(qint64 pid)
{
    double wakes = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
    for (const QString &tid : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        wakes += qMax(0.0, statusOf(tid.toLongLong(), "voluntary_ctxt_switches")) +
                 qMax(0.0, statusOf(tid.toLongLong(), "nonvoluntary_ctxt_switches"));
    }
    return wakes;
}

struct Interval {
    double seconds = 0;
    CpuTime cpu; // used in the interval
    double wakes = 0;
    int fetches = 0;
    double rssKiB = 0;
    double peakKiB = 0;
    double stopMs = -1; // SIGTERM to its exit
};

// Waits until process is ready (ready() true, checked on each line it writes or
// every 100 ms), measures it for seconds, then stops it with SIGTERM.
Interval measure(QProcess &process, const std::function<bool()> &ready, double seconds,
                 FetchCounter *fetches)
{
    Interval interval;
    QElapsedTimer waited;
    waited.start();
    process.waitForStarted();
    while (!ready()) {
        if (process.state() != QProcess::Running || waited.elapsed() > 60000) {
            std::fprintf(stderr, "agent: %s did not come up\n", qPrintable(process.program()));
            process.kill();
            process.waitForFinished();
            return interval;
        }
        process.waitForReadyRead(100);
    }
    // What follows its readiness (the first look at the plan runs rpm) settles first.
    QThread::sleep(SettleSeconds);
    const qint64 pid = process.processId();
    if (fetches)
        fetches->take();
    const CpuTime before = cpuOf(pid);
    const double wakesBefore = wakesOf(pid);
    QElapsedTimer timer;
    timer.start();
    QThread::msleep(qint64(seconds * 1000));
    const CpuTime after = cpuOf(pid);
    interval.wakes = wakesOf(pid) - wakesBefore;
    interval.seconds = timer.nsecsElapsed() / 1e9;
    interval.fetches = fetches ? fetches->take() : 0;
    interval.cpu = {after.own - before.own, after.withChildren - before.withChildren};
    interval.rssKiB = statusOf(pid, "VmRSS");
    interval.peakKiB = statusOf(pid, "VmHWM");
    QElapsedTimer stop;
    stop.start();
    ::kill(pid_t(pid), SIGTERM);
    if (process.waitForFinished(30000))
        interval.stopMs = stop.nsecsElapsed() / 1e6;
    return interval;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    // The floor: a QtCore program that does nothing but wait in its event loop.
    if (arguments.contains(QStringLiteral("--bare")))
        return app.exec();
    const int agentAt = arguments.indexOf(QStringLiteral("--agent"));
    const QString agent =
        agentAt > 0 ? arguments.value(agentAt + 1) : QStringLiteral(CORVANE_AGENT);
    const int secondsAt = arguments.indexOf(QStringLiteral("--seconds"));
    const double seconds = secondsAt > 0 ? arguments.value(secondsAt + 1).toDouble() : 60;

    Sandbox sandbox;
    QTemporaryDir files;
    if (!sandbox.isValid() || !TestKey::catalog().trust() ||
        !QFile::setPermissions(files.path(),
                               QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner) ||
        !QDir().mkpath(files.filePath(".cv_data/plans"))) {
        std::fprintf(stderr, "agent: no sandbox: %s\n", qPrintable(sandbox.errorString()));
        return 1;
    }
    const QString desktop = QStringLiteral("127.0.0.1");
    QFile plan(files.filePath(".cv_data/plans/") + desktop);
    if (!plan.open(QIODevice::WriteOnly) || plan.write(signedPlan(desktop)) <= 0)
        return 1;
    plan.close();
    HttpServer http(files.path());
    if (!http.isRunning())
        return 1;
    sandbox.setConfig(QStringLiteral("localip"), desktop);
    sandbox.setConfig(QStringLiteral("iconurl"), http.url().chopped(1));
    const QString stateFolder = QFileInfo(Paths::agentDatabase()).absolutePath();
    QDir().mkpath(stateFolder);
    FetchCounter fetchCounter(stateFolder);
    if (!fetchCounter.isValid())
        return 1;

    // The agent is ready once it has taken its plan (said on its standard error); a later
    // start finds the plan kept and says nothing, so it is ready once it has fetched again.
    const auto runAgent = [&](qint64 fetchSeconds, double forSeconds) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("CORVANE_AGENT_FETCH_SECONDS"),
                           QString::number(fetchSeconds));
        process.setProcessEnvironment(environment);
        QFile::remove(Paths::agentDatabase());
        QFile::remove(Paths::agentDatabase() + QStringLiteral(".plan"));
        process.start(agent, QStringList());
        QByteArray said;
        const Interval interval = measure(
            process,
            [&] {
                said += process.readAllStandardError();
                return said.contains("plan taken");
            },
            forSeconds, &fetchCounter);
        if (interval.stopMs < 0)
            std::fprintf(stderr, "agent: it said: %s\n", said.constData());
        return interval;
    };
    const Interval idle = runAgent(NoFetchSeconds, seconds);
    const Interval fetching = runAgent(ShortFetchSeconds, seconds);
    QProcess bareProcess;
    bareProcess.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--bare")});
    QElapsedTimer started;
    started.start();
    const Interval bare = measure(
        bareProcess,
        [&] {
            // Up once its libraries are loaded and its event loop waits.
            return bareProcess.state() == QProcess::Running && started.elapsed() > 1000;
        },
        seconds, nullptr);
    if (idle.stopMs < 0 || fetching.stopMs < 0 || bare.stopMs < 0 || fetching.fetches == 0) {
        std::fprintf(stderr, "agent: a run failed (%d fetches)\n", fetching.fetches);
        return 1;
    }

    // Idle: what waiting costs a second; a fetch: what the fetching interval cost beyond it.
    const auto perDay = [](double ms, double overSeconds) { return ms / overSeconds * DaySeconds; };
    const double idleOwnDay = perDay(idle.cpu.own, idle.seconds);
    const double idleAllDay = perDay(idle.cpu.withChildren, idle.seconds);
    const double fetchOwn =
        (fetching.cpu.own - idle.cpu.own / idle.seconds * fetching.seconds) / fetching.fetches;
    const double fetchAll =
        (fetching.cpu.withChildren - idle.cpu.withChildren / idle.seconds * fetching.seconds) /
        fetching.fetches;
    const double fetchesDay = DaySeconds / DefaultFetchSeconds;
    const double bareDay = perDay(bare.cpu.own, bare.seconds);
    std::printf("# agent: %s, %.0f s idle (no fetch due) and %.0f s fetching every %lld s "
                "(%d fetches); a day: idle rate x 86,400 s + %0.f fetches; floor: a bare "
                "QCoreApplication measured the same\n",
                qPrintable(agent), idle.seconds, fetching.seconds, ShortFetchSeconds,
                fetching.fetches, fetchesDay);
    BenchPackages::printHeader();
    const BenchPackages::Precision precision{1, 1, 2};
    BenchPackages::printRow(QStringLiteral("agent idle wakes a day"),
                            perDay(idle.wakes, idle.seconds), perDay(bare.wakes, bare.seconds),
                            precision);
    BenchPackages::printRow(QStringLiteral("agent idle CPU a day (ms)"), idleOwnDay, bareDay,
                            precision);
    BenchPackages::printRow(QStringLiteral("agent idle CPU a day, children too (ms)"), idleAllDay,
                            bareDay, precision);
    BenchPackages::printRow(QStringLiteral("agent CPU per fetch (ms)"), fetchOwn, 0, precision);
    BenchPackages::printRow(QStringLiteral("agent CPU per fetch, wget too (ms)"), fetchAll, 0,
                            precision);
    BenchPackages::printRow(QStringLiteral("agent CPU a day, 96 fetches (ms)"),
                            idleOwnDay + fetchesDay * fetchOwn, bareDay, precision);
    BenchPackages::printRow(QStringLiteral("agent CPU a day, wget too (ms)"),
                            idleAllDay + fetchesDay * fetchAll, bareDay, precision);
    BenchPackages::printRow(QStringLiteral("agent VmRSS (KiB)"), idle.rssKiB, bare.rssKiB,
                            precision);
    BenchPackages::printRow(QStringLiteral("agent VmHWM (KiB)"),
                            qMax(idle.peakKiB, fetching.peakKiB), bare.peakKiB, precision);
    BenchPackages::printRow(QStringLiteral("agent SIGTERM to exit (ms)"), idle.stopMs, bare.stopMs,
                            precision);
    return 0;
}
