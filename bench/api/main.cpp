// The admin API under load. 1,000 report queries a second (one desktop's report, a desktop
// after another) over TLS on loopback, on one kept-alive connection, while 1,000 reports a
// second go through the ingest into the same fleet database: the query's latency p50/p99,
// next to the same report read on a connection of the database alone under the same ingest
// (the floor). Then the ingest's throughput (100,000 reports as fast as they queue) with and
// without the API's 1,000 queries a second.
#include "api/apirouter.h"
#include "api/apiserver.h"
#include "api/apitokens.h"
#include "fleet/fleetaudit.h"
#include "fleet/fleetdatabase.h"
#include "fleet/fleetingest.h"
#include "fleet/fleetreport.h"
#include "sync/reportframe.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QTemporaryDir>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

namespace
{

constexpr int Desktops = 1000;
constexpr int PackagesEach = 50;
constexpr int Rate = 1000;         // queries and reports a second
constexpr int Seconds = 10;        // of the latency run
constexpr int Throughput = 100000; // reports of the throughput run

using Clock = std::chrono::steady_clock;

QString desktop(int i)
{
    return QString::asprintf("10.9.%d.%d", i / 256 % 256, i % 256 + 1);
}

FleetDatabase::Report result(int k, int n)
{
    ReportFrame::Result made;
    made.id = QString::asprintf("%016x-%d", k + 1, n);
    made.time = QDateTime::currentSecsSinceEpoch();
    made.oper = QStringLiteral("upgrade");
    made.rpm = QString::asprintf("cvb-pkg%03d-1.1-1", n % PackagesEach);
    made.code = n % 10 == 0 ? -1 : 0;
    FleetDatabase::Report report{
        desktop(k % Desktops), QString(), QDateTime::currentSecsSinceEpoch(), {}};
    QString error;
    report.frame.parse(ReportFrame::composeResult(report.desktop, made), &error);
    return report;
}

double percentile(std::vector<double> values, double share)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(double(values.size()) * share))];
}

// Calls at rate a second for seconds, each given the time it was due; latencies in ms from
// when each was due (a late start counts against it).
std::vector<double> paced(int rate, int seconds, const std::function<bool()> &call)
{
    std::vector<double> latencies;
    const Clock::time_point start = Clock::now();
    for (int i = 0; i < rate * seconds; ++i) {
        const Clock::time_point due = start + std::chrono::microseconds(i * 1000000LL / rate);
        std::this_thread::sleep_until(due);
        if (!call())
            break;
        latencies.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
    }
    return latencies;
}

// One kept-alive HTTPS connection, a request at a time.
class Client
{
public:
    bool open(quint16 port, const QString &certificate, const QByteArray &token)
    {
        m_token = token;
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslCertificate::fromPath(certificate));
        m_socket.setSslConfiguration(tls);
        m_socket.connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
        return m_socket.waitForEncrypted(30000);
    }
    bool get(const QByteArray &path)
    {
        m_socket.write("GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nAuthorization: Bearer " +
                       m_token + "\r\n\r\n");
        QByteArray got;
        for (;;) {
            const int end = got.indexOf("\r\n\r\n");
            if (end >= 0) {
                const int at = got.indexOf("Content-Length: ");
                const int length = got.mid(at + 16, got.indexOf("\r\n", at) - at - 16).toInt();
                if (got.size() >= end + 4 + length)
                    return got.startsWith("HTTP/1.1 200");
            }
            if (!m_socket.waitForReadyRead(30000))
                return false;
            got += m_socket.readAll();
        }
    }

private:
    QSslSocket m_socket;
    QByteArray m_token;
};

// Ingest: reports at rate a second on a thread of its own until stop.
std::thread feed(FleetIngest *ingest, std::atomic<bool> *stop, std::atomic<int> *sent)
{
    return std::thread([=]() {
        const Clock::time_point start = Clock::now();
        for (int n = 0; !*stop; ++n) {
            std::this_thread::sleep_until(start + std::chrono::microseconds(n * 1000000LL / Rate));
            ingest->submit(result(n, 1000 + n));
            ++*sent;
        }
    });
}

// Seconds to store count reports queued as fast as the ingest takes them.
double ingestRun(FleetIngest *ingest, int count, int from)
{
    QElapsedTimer clock;
    clock.start();
    for (int n = 0; n < count; ++n)
        while (!ingest->submit(result(n, from + n)))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ingest->flush();
    return clock.elapsed() / 1000.0;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString database = dir.filePath("fleet.db");
    const QString certificate = dir.filePath("cert.pem");
    QProcess openssl;
    openssl.start("openssl",
                  {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes",
                   "-keyout", dir.filePath("key.pem"), "-out", certificate, "-days", "1", "-subj",
                   "/CN=localhost", "-addext", "subjectAltName=IP:127.0.0.1"});
    openssl.waitForFinished(60000);

    QString error;
    FleetIngest::Settings settings;
    settings.database = database;
    settings.burst = 1 << 30;
    FleetIngest ingest(
        settings, [](const QString &, const QStringList &) {}, [](const QString &) {});
    if (!ingest.start(&error)) {
        std::fprintf(stderr, "bench_api: %s\n", qPrintable(error));
        return 1;
    }
    // 1,000 desktops with 50 packages each, 10,000 results.
    for (int k = 0; k < Desktops; ++k) {
        ReportFrame::Inventory inventory;
        inventory.id = QString::asprintf("%016x-0", k + 1);
        inventory.time = QDateTime::currentSecsSinceEpoch();
        for (int p = 0; p < PackagesEach; ++p)
            inventory.packages << QString::asprintf("cvb-pkg%03d-1.%d-1", p, (k + p) % 3);
        FleetDatabase::Report report{desktop(k), QString(), inventory.time, {}};
        report.frame.parse(ReportFrame::composeInventory(desktop(k), inventory, 65535), &error);
        ingest.submit(report);
    }
    ingestRun(&ingest, 10000, 0);

    FleetDatabase tokens;
    tokens.open(database, false, &error);
    const QByteArray token =
        ApiTokens(tokens.handle())
            .issue({"bench", ApiTokens::Role::Viewer, {"*"}}, 0, {"bench", "bench"}, 1, &error)
            .toLatin1();
    FleetAudit audit;
    audit.open(database, 365, &error);
    ApiRouter router([](const QString &, const FleetAudit::Actor &) { return QString(); },
                     [](const QString &, const QString &) { return QStringLiteral("default"); },
                     {"default"}, &audit, 1e6, 1e6);
    router.open(database, &error);
    ApiServer server(&router);
    ApiServer::Settings listen;
    QFile cert(certificate), key(dir.filePath("key.pem"));
    cert.open(QIODevice::ReadOnly);
    key.open(QIODevice::ReadOnly);
    listen.certificate = cert.readAll();
    listen.key = key.readAll();
    if (!server.start(listen, &error)) {
        std::fprintf(stderr, "bench_api: %s\n", qPrintable(error));
        return 1;
    }
    Client client;
    if (!client.open(server.port(), certificate, token)) {
        std::fprintf(stderr, "bench_api: no TLS connection\n");
        return 1;
    }
    std::atomic<int> asked{0};
    const auto path = [&asked]() {
        return "/api/v1/desktops/" + desktop(asked++ % Desktops).toLatin1();
    };

    // The latency run, then its floor, each under 1,000 reports a second.
    std::atomic<bool> stop{false};
    std::atomic<int> sent{0};
    std::thread feeding = feed(&ingest, &stop, &sent);
    const std::vector<double> api = paced(Rate, Seconds, [&] { return client.get(path()); });
    FleetDatabase alone;
    alone.open(database, true, &error);
    const std::vector<double> floor = paced(Rate, Seconds, [&] {
        return !FleetReport(alone.handle(), QDateTime::currentSecsSinceEpoch())
                    .desktop(desktop(asked++ % Desktops))
                    .isEmpty();
    });
    stop = true;
    feeding.join();
    ingest.flush();

    // The ingest alone, then under the API's load.
    const double quiet = ingestRun(&ingest, Throughput, 100000);
    std::atomic<bool> loaded{true};
    std::atomic<int> duringIngest{0};
    std::thread querying([&] {
        // A connection of this thread's own: a socket stays on the thread that made it.
        Client own;
        if (!own.open(server.port(), certificate, token))
            return;
        paced(Rate, 3600, [&] {
            duringIngest += loaded ? 1 : 0;
            return loaded && own.get(path());
        });
    });
    const double busy = ingestRun(&ingest, Throughput, 200000);
    loaded = false;
    querying.join();

    std::printf("figure value floor ratio\n");
    std::printf("queries over TLS (of %d due) %zu %zu -\n", Rate * Seconds, api.size(),
                floor.size());
    std::printf("query p50 (ms) %.2f %.2f %.1f\n", percentile(api, 0.5), percentile(floor, 0.5),
                percentile(api, 0.5) / std::max(1e-9, percentile(floor, 0.5)));
    std::printf("query p99 (ms) %.2f %.2f %.1f\n", percentile(api, 0.99), percentile(floor, 0.99),
                percentile(api, 0.99) / std::max(1e-9, percentile(floor, 0.99)));
    std::printf("reports fed during the queries %d - -\n", int(sent));
    std::printf("queries during the loaded ingest %d - -\n", int(duringIngest));
    std::printf("ingest, reports a second, under 1,000 queries a second %.0f %.0f %.2f\n",
                Throughput / busy, Throughput / quiet,
                quiet / busy > 0 ? (Throughput / busy) / (Throughput / quiet) : 0);
    return 0;
}
