// Times a cold start of the store program, offscreen, until its loading animation ends: with
// the large catalog already stored, and onto an empty store that fetches the whole catalog
// as its file (file mode). The first frame the program replays to itself ends the animation.
#include "bench/support/benchcatalog.h"
#include "bench/support/benchpackages.h"
#include "records/paths.h"
#include "server/repository/catalogdocument.h"
#include "storage/database.h"
#include "sync/catalogpackage.h"
#include "tests/support/freeport.h"
#include "tests/support/httpserver.h"
#include "tests/support/sandbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTest>

#include <cstdio>

#ifndef CORVANE_PROGRAM
#error "CORVANE_PROGRAM must name the corvane program"
#endif

namespace
{

constexpr int Repetitions = 5;
constexpr int FreshRepetitions = 3;
// The program asks for the catalog this long after it starts.
constexpr double CatalogRequestDelayMs = 1000;
// What the window logs once it has left the loading page.
const char *const LoadedLine = "refresh... m_page";

// Starts the program and returns the milliseconds until it has shown the catalog, or -1.
double coldStart(const QString &tmp)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("TMPDIR"), tmp); // the single-instance socket of this root only
    env.insert(QStringLiteral("VQS_PORT"), QString::number(freePort()));
    env.insert(QStringLiteral("VQS_BIND"), QStringLiteral("127.0.0.1"));
    env.insert(QStringLiteral("QT_MESSAGE_PATTERN"), QStringLiteral("%{message}"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.setStandardOutputFile(QProcess::nullDevice());
    QByteArray seen;
    bool loaded = false;
    QElapsedTimer timer;
    timer.start();
    QObject::connect(&program, &QProcess::readyReadStandardError, [&] {
        seen += program.readAllStandardError();
        const int line = seen.lastIndexOf('\n');
        if (line >= 0) {
            loaded = loaded || seen.left(line).contains(LoadedLine);
            seen = seen.mid(line + 1);
        }
    });
    program.start(QStringLiteral(CORVANE_PROGRAM), QStringList());
    const bool done = program.waitForStarted() && QTest::qWaitFor([&] { return loaded; }, 120000);
    const double ms = timer.nsecsElapsed() / 1e6;
    program.kill();
    program.waitForFinished();
    return done ? ms : -1;
}

bool bareQuery()
{
    int rows = 0, columns = 0;
    char **result = exec_select(
        Paths::catalogDatabase().toUtf8().constData(), &rows, &columns,
        "select s_name,s_icon,s_exec,s_rpm,s_version,s_size,s_description,s_star,type,sign,"
        "s_rpmdeps from softwares");
    free_result(result);
    return result != nullptr;
}

bool writeCatalogFile(const QString &path, const QStringList &frames)
{
    QFile data(path);
    return data.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
           data.write((frames.join('\n') + '\n').toUtf8()) > 0;
}

// The large catalog as the catalog server writes it to its file: a whole catalog split into
// frames the transport carries.
QStringList wholeCatalogFrames()
{
    QVector<CatalogPackage> packages;
    for (int i = 0; i < BenchCatalog::Packages; ++i) {
        const CatalogEntry e = BenchCatalog::entry(i);
        CatalogPackage p;
        p.name = e.name;
        p.icon = e.icon;
        p.exec = e.exec;
        p.rpm = e.rpm;
        p.version = e.version;
        p.size = e.size;
        p.desc = e.desc;
        p.star = e.star;
        p.klass = e.type;
        p.time = QStringLiteral("1");
        packages << p;
    }
    QStringList skipped;
    return CatalogDocument::catalogFrames(packages, CatalogDocument::MaxFrameBytes, &skipped);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    Sandbox sandbox;
    QString error;
    if (!sandbox.isValid() || !sandbox.installEmpty(BenchCatalog::installedPackages(), &error) ||
        !BenchCatalog::fill() || !BenchCatalog::writeIcons()) {
        std::fprintf(stderr, "no sandbox: %s%s\n", qPrintable(sandbox.errorString()),
                     qPrintable(error));
        return 1;
    }
    // The catalog file the program fetches and replays: one push for a package it already
    // has, so that the stored catalog stays as it is.
    QDir files(sandbox.path(QStringLiteral("/srv")));
    files.mkpath(QStringLiteral(".cv_data"));
    QFile data(files.filePath(QStringLiteral(".cv_data/data_x86_64")));
    if (!data.open(QIODevice::WriteOnly) ||
        data.write(
            (catalogFrame(QStringLiteral("data_update_push"), {BenchCatalog::entry(1)}) + '\n')
                .toUtf8()) < 0)
        return 1;
    data.close();
    HttpServer http(files.path());
    if (!http.isRunning())
        return 1;
    sandbox.setConfig(QStringLiteral("iconurl"), http.url().chopped(1));
    sandbox.setConfig(QStringLiteral("vqssend"), QStringLiteral("false"));
    const QString tmp = sandbox.path(QStringLiteral("/tmp"));

    const double startMs = BenchPackages::medianMs(
        [&] {
            const double ms = coldStart(tmp);
            return ms >= 0;
        },
        Repetitions);
    const double queryMs = BenchPackages::medianMs(bareQuery, Repetitions);

    // An empty store; the icons are served beside the catalog file.
    const QStringList frames = wholeCatalogFrames();
    if (!writeCatalogFile(data.fileName(), frames))
        return 1;
    for (const QString &icon : QDir(Paths::iconDirectory()).entryList(QDir::Files))
        QFile::copy(Paths::iconDirectory() + '/' + icon, files.filePath(icon));
    const QByteArray catalog = Paths::catalogDatabase().toUtf8();
    const double freshMs = BenchPackages::medianMs(
        [&] {
            if (exec_sql(catalog.constData(), "delete from softwares") != 0)
                return false;
            QDir(Paths::iconDirectory()).removeRecursively();
            QDir().mkpath(Paths::iconDirectory());
            return coldStart(tmp) >= 0;
        },
        FreshRepetitions);
    // Its floor: the delay, then the first frame's packages into SQLite in one transaction.
    const double firstFrameFloorMs =
        BenchPackages::medianMs(
            [&] {
                if (exec_sql(catalog.constData(), "delete from softwares") != 0)
                    return false;
                return BenchCatalog::fill();
            },
            FreshRepetitions) *
        1.0 / frames.size();
    std::printf("# startup: %d packages stored, median of %d starts\n", BenchCatalog::Packages,
                Repetitions);
    BenchPackages::printHeader();
    BenchPackages::printRow(QStringLiteral("startup to the loaded catalog (ms)"), startMs,
                            CatalogRequestDelayMs + queryMs);
    std::printf("# startup: fresh store, the catalog file holds %d frames\n", int(frames.size()));
    BenchPackages::printRow(QStringLiteral("startup onto a fresh catalog, file mode (ms)"), freshMs,
                            CatalogRequestDelayMs + firstFrameFloorMs);
    return 0;
}
