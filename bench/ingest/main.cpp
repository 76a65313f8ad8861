// Times a whole catalog arriving as frames over the transport into the frame receiver, with
// many packages installed, against what any receiver has to pay at least: one rpm -qa per
// frame and the frame's rows written in one transaction. The catalog is split as the catalog
// server splits it; the first load fetches every icon, later loads find the catalog stored.
#include "bench/support/benchpackages.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "server/repository/catalogdocument.h"
#include "storage/database.h"
#include "sync/catalogframe.h"
#include "sync/framegate.h"
#include "sync/heartthread.h"
#include "sync/installedpackages.h"
#include "tests/support/freeport.h"
#include "tests/support/httpserver.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testpackage.h"
#include "vqs.h"

#include <sqlite3.h>

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <vector>

namespace
{

constexpr int CatalogPackages = 2000;
constexpr int InstalledPackageCount = 1500;
constexpr int Repetitions = 5;
constexpr int StoredLoads = 5;

QString shortName(int i)
{
    return QString::asprintf("cvb-app%05d", i);
}
QString installedVersion(int i)
{
    return QStringLiteral("1.") + QString::number(i % 7);
}

QVector<TestPackage> installedPackages()
{
    QVector<TestPackage> packages;
    for (int i = 0; i < InstalledPackageCount; ++i)
        packages.append({shortName(i), installedVersion(i)});
    return packages;
}

// A quarter of the catalog is not installed, every tenth installed package has a newer release.
QVector<CatalogPackage> catalog()
{
    QVector<CatalogPackage> packages;
    for (int i = 0; i < CatalogPackages; ++i) {
        CatalogPackage p;
        p.name = QString::asprintf("应用%05d", i);
        p.icon = shortName(i);
        p.exec = shortName(i) + QStringLiteral(" %U");
        p.version = installedVersion(i);
        p.rpm = shortName(i) + '-' + p.version +
                (i % 10 == 0 ? QStringLiteral("-2") : QStringLiteral("-1"));
        p.size = QString::number(1 + i % 90) + QStringLiteral(" MB");
        p.desc = QStringLiteral("一个普通的桌面应用，用于日常办公与学习 #") + QString::number(i);
        p.rpmdeps = QStringLiteral("libc libqt5core libqt5widgets");
        p.star = QString::number(1 + i % 5);
        p.klass = QString::number(1 + i % 13);
        p.time = QStringLiteral("20240101");
        packages << p;
    }
    return packages;
}

bool waitForReceiver(int port)
{
    return QTest::qWaitFor(
        [port] {
            QTcpSocket probe;
            probe.connectToHost(QHostAddress::LocalHost, port);
            return probe.waitForConnected(100);
        },
        10000);
}

double timed(const std::function<bool()> &run)
{
    return BenchPackages::medianMs(run, Repetitions);
}

bool exec(sqlite3 *db, const char *sql)
{
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

// The least a receiver does per frame: list the installed packages once and write the
// frame's rows in one transaction with a prepared statement.
bool floorFrame(const QString &database, const CatalogFrame &frame)
{
    const QByteArray command =
        (QStringLiteral("rpm -qa > ") + Quoting::shell(Paths::installedListFile())).toUtf8();
    if (std::system(command.constData()) != 0)
        return false;
    sqlite3 *db = nullptr;
    sqlite3_stmt *insert = nullptr;
    bool ok = sqlite3_open(database.toUtf8().constData(), &db) == SQLITE_OK && exec(db, "begin") &&
              sqlite3_prepare_v2(db,
                                 "insert or replace into softwares(s_name,s_icon,s_exec,s_rpm,"
                                 "s_version,s_size,s_description,s_rpmdeps,s_star,type,time) "
                                 "values(?,?,?,?,?,?,?,?,?,?,?)",
                                 -1, &insert, nullptr) == SQLITE_OK;
    for (const CatalogPackage &p : frame.packages()) {
        if (!ok)
            break;
        const QString values[] = {p.name, p.icon,    p.exec, p.rpm,   p.version, p.size,
                                  p.desc, p.rpmdeps, p.star, p.klass, p.time};
        for (int c = 0; c < 11; ++c) {
            const QByteArray text = values[c].toUtf8();
            sqlite3_bind_text(insert, c + 1, text.constData(), text.size(), SQLITE_TRANSIENT);
        }
        ok = sqlite3_step(insert) == SQLITE_DONE && sqlite3_reset(insert) == SQLITE_OK;
    }
    sqlite3_finalize(insert);
    ok = ok && exec(db, "commit");
    sqlite3_close(db);
    return ok;
}

struct Replay {
    double framesMs = -1; // until the receiver has applied the last frame
    double iconsMs = -1;  // until the icon fetches it asked for have ended as well
    int frames = 0;
    int fewestRows = -1; // catalog rows at the emptiest notification during the load
};

int catalogRows()
{
    int rows = 0, columns = 0;
    char **result = exec_select(Paths::catalogDatabase().toUtf8().constData(), &rows, &columns,
                                "select count(*) from softwares");
    const int count = result ? std::atoi(result[0]) : -1;
    free_result(result);
    return count;
}

// Sends every frame to the receiver and waits until it has applied the last one and fetched
// the icons they named.
Replay replay(HeartThread &heart, const QStringList &frames)
{
    Replay result;
    int done = 0;
    QObject context;
    QObject::connect(&heart, &HeartThread::recvServerData, &context,
                     [&](const QString &data, const QStringList &) {
                         if (data == QLatin1String("info"))
                             return;
                         ++done;
                         const int rows = catalogRows();
                         if (result.fewestRows < 0 || rows < result.fewestRows)
                             result.fewestRows = rows;
                     });
    QElapsedTimer timer;
    timer.start();
    for (const QString &frame : frames)
        vqs_message_send("127.0.0.1", frame.toUtf8().constData());
    if (!QTest::qWaitFor([&] { return done >= frames.size(); }, 600000))
        return result;
    result.framesMs = timer.nsecsElapsed() / 1e6;
    // The event loop keeps running: the HTTP server's log reaches this process through it.
    if (!QTest::qWaitFor([&] { return heart.waitForIcons(5); }, 600000))
        return result;
    result.iconsMs = timer.nsecsElapsed() / 1e6;
    result.frames = frames.size();
    return result;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const int port = useLoopbackTransport();
    qSetMessagePattern(QStringLiteral("%{if-warning}%{message}%{endif}"));

    QElapsedTimer setupTimer;
    setupTimer.start();
    Sandbox sandbox;
    QString error;
    if (!sandbox.isValid() || !sandbox.installEmpty(installedPackages(), &error)) {
        std::fprintf(stderr, "no sandbox: %s%s\n", qPrintable(sandbox.errorString()),
                     qPrintable(error));
        return 1;
    }
    // The icons the first load fetches, served from loopback as the catalog server would.
    QTemporaryDir iconSource;
    for (int i = 0; i < CatalogPackages; ++i) {
        QFile icon(iconSource.filePath(shortName(i)));
        if (!icon.open(QIODevice::WriteOnly) || icon.write(QByteArray(2048, 'x')) < 0)
            return 1;
    }
    HttpServer http(iconSource.path());
    if (!http.isRunning()) {
        std::fprintf(stderr, "no http server\n");
        return 1;
    }
    sandbox.setConfig(QStringLiteral("iconurl"), http.url().chopped(1));

    QStringList skipped;
    const QStringList frames =
        CatalogDocument::catalogFrames(catalog(), CatalogDocument::MaxFrameBytes, &skipped);
    const QString emptyDatabase = sandbox.path(QStringLiteral("/tmp/empty.db"));
    const QString floorDatabase = sandbox.path(QStringLiteral("/tmp/floor.db"));
    QFile::copy(Paths::catalogDatabase(), emptyDatabase);
    std::vector<CatalogFrame> parsed(frames.size());
    for (int i = 0; i < frames.size(); ++i)
        parsed[i].parse(frames[i], &error);
    // The floor is timed between the loads, so that both meet the same load on a shared
    // machine.
    std::vector<double> floors;
    auto timeFloor = [&]() {
        QFile::remove(floorDatabase);
        QFile::copy(emptyDatabase, floorDatabase);
        QElapsedTimer timer;
        timer.start();
        for (const CatalogFrame &frame : parsed)
            if (!floorFrame(floorDatabase, frame))
                return false;
        floors.push_back(timer.nsecsElapsed() / 1e6);
        return true;
    };
    const double setupSeconds = setupTimer.nsecsElapsed() / 1e9;

    HeartThread heart;
    heart.start();
    if (!waitForReceiver(port)) {
        std::fprintf(stderr, "the receiver does not listen\n");
        return 1;
    }
    // The first load fetches every icon; the later ones are restarts with the catalog stored.
    bool complete = timeFloor();
    const Replay first = replay(heart, frames);
    const QDateTime storedStart = QDateTime::currentDateTime();
    std::vector<Replay> stored;
    for (int i = 0; i < StoredLoads; ++i) {
        complete = timeFloor() && complete;
        stored.push_back(replay(heart, frames));
    }
    // Icons written again during the stored loads were fetched again.
    int refetched = 0;
    const QDir icons(Paths::iconDirectory());
    for (const QFileInfo &icon : icons.entryInfoList(QDir::Files))
        refetched += icon.metadataChangeTime() >= storedStart ? 1 : 0;
    complete = complete && first.frames > 0;
    for (const Replay &load : stored)
        complete = complete && load.frames > 0;
    if (!complete) {
        std::fprintf(stderr, "the receiver did not apply every frame, or the floor failed\n");
        return 1;
    }
    std::sort(stored.begin(), stored.end(),
              [](const Replay &a, const Replay &b) { return a.framesMs < b.framesMs; });
    const Replay second = stored[stored.size() / 2];
    int fewestRows = second.fewestRows;
    for (const Replay &load : stored)
        fewestRows = std::min(fewestRows, load.fewestRows);

    std::sort(floors.begin(), floors.end());
    const double floorMs = floors[floors.size() / 2];

    // The parts of the refresh that follows each frame, timed alone on the same data.
    InstalledPackages::SnapshotStyle snapshotStyle;
    snapshotStyle.file = Paths::installedListFile();
    InstalledPackages::ReloadStyle reloadStyle;
    reloadStyle.errorPrefix = QStringLiteral("[ERROR][insert software]");
    QVector<RpmInfo> installed;
    const double snapshotMs = timed([&] { return InstalledPackages::snapshot(snapshotStyle); });
    const double reloadMs = timed([&] {
        installed.clear();
        return InstalledPackages::reload(snapshotStyle.file, reloadStyle, &installed);
    });
    const double signMs =
        timed([&] { return InstalledPackages::recomputeSigns(installed, QString()); });
    const double rpmOnlyMs = timed([&] {
        const QByteArray command =
            (QStringLiteral("rpm -qa > ") + Quoting::shell(Paths::installedListFile())).toUtf8();
        return std::system(command.constData()) == 0;
    });

    const QString iconCommand = QStringLiteral("wget -q -O ") +
                                Quoting::shell(sandbox.path(QStringLiteral("/tmp/icon"))) + ' ' +
                                Quoting::shell(http.url() + shortName(0));
    const double wgetMs = timed([&] { return std::system(iconCommand.toUtf8().constData()) == 0; });

    vqs_message_send("127.0.0.1", "process-run-end");
    heart.wait(10000);

    // The same catalog signed as the server sends it and checked as a store with a key
    // receives it; each check starts from a store that has accepted nothing yet.
    const QString keys = sandbox.path(QStringLiteral("/tmp/bench-keys"));
    const QString sequence = sandbox.path(QStringLiteral("/tmp/bench-sequence"));
    QDir().mkpath(keys);
    QFile::copy(TestKey::catalog().publicKeyFile(), keys + QStringLiteral("/catalog.pub"));
    QVector<QByteArray> sealed;
    const double signAllMs = timed([&] {
        sealed.clear();
        for (const QString &frame : frames)
            sealed << TestKey::catalog().seal(frame.toUtf8());
        return true;
    });
    const double checkAllMs = timed([&] {
        QFile::remove(sequence);
        FrameGate gate(keys, Paths::catalogDatabase(), sequence);
        bool accepted = true;
        for (const QByteArray &frame : qAsConst(sealed))
            accepted = gate.admit(frame) == FrameGate::Verdict::Accepted && accepted;
        return accepted;
    });

    const int n = first.frames;
    std::printf(
        "# ingest: %d catalog packages in %d frames, %d installed, %d skipped; setup %.1f s; "
        "stored load: median of %d\n",
        CatalogPackages, n, installed.size(), skipped.size(), setupSeconds, StoredLoads);
    BenchPackages::printHeader();
    BenchPackages::printRow(QStringLiteral("ingest first load, total (ms)"), first.iconsMs,
                            floorMs);
    BenchPackages::printRow(QStringLiteral("ingest first load, frames stored (ms)"), first.framesMs,
                            floorMs);
    BenchPackages::printRow(QStringLiteral("ingest first load, per frame (ms)"), first.framesMs / n,
                            floorMs / n);
    BenchPackages::printRow(QStringLiteral("ingest stored catalog, total (ms)"), second.iconsMs,
                            floorMs);
    BenchPackages::printRow(QStringLiteral("ingest stored catalog, per frame (ms)"),
                            second.framesMs / n, floorMs / n);
    BenchPackages::printRow(QStringLiteral("ingest split, snapshot rpm -qa (ms)"), snapshotMs,
                            rpmOnlyMs);
    BenchPackages::printRow(QStringLiteral("ingest split, reload software (ms)"), reloadMs, 0);
    BenchPackages::printRow(QStringLiteral("ingest split, sign recomputation (ms)"), signMs, 0);
    // Per frame: the refresh after it, and the reload before the catalog's first part.
    const double statements =
        second.framesMs / n - snapshotMs - reloadMs - signMs - (snapshotMs + reloadMs) / n;
    BenchPackages::printRow(QStringLiteral("ingest split, icon fetch (one wget) (ms)"), wgetMs, 0);
    BenchPackages::printRow(QStringLiteral("ingest split, first load icons, per icon (ms)"),
                            first.iconsMs / CatalogPackages, 0);
    BenchPackages::printRow(QStringLiteral("ingest split, icons fetched again (count)"), refetched,
                            0);
    BenchPackages::printRow(QStringLiteral("ingest split, rows missing mid-load (count)"),
                            CatalogPackages - fewestRows, 0);
    BenchPackages::printRow(QStringLiteral("ingest split, frame statements (remainder) (ms)"),
                            statements, floorMs / n - rpmOnlyMs);
    BenchPackages::printRow(QStringLiteral("signature, sign per frame (ms)"), signAllMs / n,
                            floorMs / n);
    BenchPackages::printRow(QStringLiteral("signature, sign whole catalog (ms)"), signAllMs,
                            floorMs);
    BenchPackages::printRow(QStringLiteral("signature, check per frame (ms)"), checkAllMs / n,
                            floorMs / n);
    BenchPackages::printRow(QStringLiteral("signature, check whole catalog (ms)"), checkAllMs,
                            floorMs);
    BenchPackages::printRow(QStringLiteral("signature, check share of stored ingest (%)"),
                            100 * checkAllMs / second.framesMs, 0);
    return 0;
}
