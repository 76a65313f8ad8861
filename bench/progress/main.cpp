// Times one progress tick of a row's controller on the GUI thread while yum really downloads
// a package over HTTP (throttled, so that the download lasts), against the floor of reading
// the partial file's size.
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

namespace
{

constexpr int Repetitions = 15;
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
    const double tickMs = BenchPackages::medianMs(
        [&] {
            item.setProgressSlot();
            return true;
        },
        Repetitions);
    const double floorMs =
        BenchPackages::medianMs([&] { return QFileInfo(partial).size() >= 0; }, Repetitions);
    const qint64 after = QFileInfo(partial).size();

    std::printf("# progress: %d MiB package over HTTP at 4 MiB/s; %lld to %lld bytes of it "
                "during the ticks\n",
                PayloadBytes / (1024 * 1024), before, after);
    BenchPackages::printHeader();
    BenchPackages::printRow(QStringLiteral("progress tick during a download (ms)"), tickMs,
                            floorMs);
    worker->stop();
    worker->wait(120000);
    // The ticks count only if they fell within the download.
    return after < PayloadBytes ? 0 : 1;
}
