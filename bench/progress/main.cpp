// Times the progress measurement of a row's controller while yum really downloads a package
// over HTTP (throttled, so that the download lasts): one measurement's commands, and the GUI
// thread's share of a tick with five rows downloading, each against the floor of reading the
// partial file's size.
#include "bench/support/benchpackages.h"
#include "queues/downloadthread.h"
#include "records/operinfo.h"
#include "records/rpmdata.h"
#include "tasks/installitem.h"
#include "tests/support/httpserver.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTableWidget>
#include <QTest>

#include <cstdio>
#include <ctime>
#include <memory>
#include <vector>

namespace
{

constexpr int Repetitions = 15;
constexpr int Rows = 5;
constexpr int TickWindowMs = 3000;

// The GUI thread's processor time so far, whatever else the machine does.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return now.tv_sec * 1e3 + now.tv_nsec / 1e6;
}

// Counts the progress ticks of the rows it watches.
class TickCounter : public QObject
{
public:
    int count = 0;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Timer)
            ++count;
        return QObject::eventFilter(watched, event);
    }
};
constexpr int PayloadBytes = 24 * 1024 * 1024;

// yum fetches from the loopback HTTP server at a limited rate instead of the local folder.
bool serveOverHttp(const Sandbox &sandbox, const QString &url)
{
    QFile config(sandbox.path(QStringLiteral("/.sandbox/dnf.conf")));
    if (!config.open(QIODevice::ReadOnly))
        return false;
    QString text = QString::fromUtf8(config.readAll());
    config.close();
    text.replace(QRegularExpression(QStringLiteral("baseurl=file://[^\n]*")),
                 QStringLiteral("baseurl=") + url);
    text.replace(QStringLiteral("[main]\n"), QStringLiteral("[main]\nthrottle=4M\n"));
    return config.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           config.write(text.toUtf8()) == text.toUtf8().size();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    TestPackage big{QStringLiteral("cv-big"), QStringLiteral("1.0")};
    big.payloadBytes = PayloadBytes;
    TestRepository repository({big});
    Sandbox sandbox(&repository);
    HttpServer http(repository.directory());
    if (!repository.isValid() || !sandbox.isValid() || !http.isRunning() ||
        !serveOverHttp(sandbox, http.url())) {
        std::fprintf(stderr, "no sandbox: %s%s\n", qPrintable(repository.errorString()),
                     qPrintable(sandbox.errorString()));
        return 1;
    }

    const QString rpm = big.name + '-' + big.version + '-' + big.release;
    RpmData record;
    record.m_name = QStringLiteral("大型软件");
    record.m_icon = big.name;
    record.m_rpm = rpm;
    record.m_size = QString::number(PayloadBytes);
    QTableWidget table(1, 13);
    InstallItem item(nullptr, record, {}, QStringLiteral("下载"), 0, &table);

    auto *worker = new DownloadThread;
    worker->insertQueue(OperInfo{QStringLiteral("下载"), QStringLiteral("1"), rpm, big.name});
    worker->start();
    const QString partial = sandbox.packageDirectory() + '/' + rpm + '/' + big.fileName();
    if (!QTest::qWaitFor([&] { return QFileInfo::exists(partial); }, 120000)) {
        std::fprintf(stderr, "the download did not start\n");
        return 1;
    }
    const qint64 before = QFileInfo(partial).size();
    // One measurement run where it is called: its commands through the shell, as a tick ran
    // on the GUI thread before the probe thread took them over.
    const double tickMs = BenchPackages::medianMs(
        [&] {
            item.setProgressSlot();
            return true;
        },
        Repetitions);
    const double floorMs =
        BenchPackages::medianMs([&] { return QFileInfo(partial).size() >= 0; }, Repetitions);

    // Five rows downloading, ticking every 50 ms: what the GUI thread spends per tick.
    std::vector<std::unique_ptr<InstallItem>> rows;
    TickCounter ticks;
    for (int i = 0; i < Rows; ++i) {
        RpmData other = record;
        if (i > 0) {
            other.m_icon = QStringLiteral("cv-queued-%1").arg(i);
            other.m_rpm = other.m_icon + QStringLiteral("-1.0-1");
        }
        rows.push_back(std::make_unique<InstallItem>(nullptr, other, QStringList(),
                                                     QStringLiteral("下载"), i, &table));
        rows.back()->installEventFilter(&ticks);
        rows.back()->execTask(QStringLiteral("下载"));
    }
    const double cpuBefore = threadCpuMs();
    QTest::qWait(TickWindowMs);
    const double guiMsPerTick = (threadCpuMs() - cpuBefore) / qMax(1, ticks.count);
    rows.clear();
    const qint64 after = QFileInfo(partial).size();

    std::printf("# progress: %d MiB package over HTTP at 4 MiB/s; %lld to %lld bytes of it "
                "during the ticks; %d ticks of %d rows in %d ms\n",
                PayloadBytes / (1024 * 1024), before, after, ticks.count, Rows, TickWindowMs);
    BenchPackages::printHeader();
    BenchPackages::printRow(QStringLiteral("progress: one measurement's commands (ms)"), tickMs,
                            floorMs);
    BenchPackages::printRow(QStringLiteral("progress: GUI thread per tick, 5 rows (ms)"),
                            guiMsPerTick, floorMs);
    worker->stop();
    worker->wait(120000);
    // The ticks count only if they fell within the download.
    return after < PayloadBytes ? 0 : 1;
}
