// The catalog server and a repository. (1) Building the catalog from a repository of 10,000
// packages, 2,000 of them applications with AppStream data and icons, against the floor of
// libsolv alone loading the same primary metadata; a catalog for each of 100 groups against
// the one catalog; the check of repomd.xml's OpenPGP signature against that build; the catalog
// with an updateinfo of 5,000 advisories against the same catalog without; "report advisories"
// over 10,000 desktops and 1,000 advisories against SQLite stepping through its join alone. (2)
// The time
// from the end of createrepo_c --update (a newer version of one application) to the last of N = 100
// and 1,000 desktops holding its push through a private RabbitMQ node: the server's poll and settle
// time (--settle 0) are part of it.
#include "bench/fanout/arrivals.h"
#include "bench/fanout/brokerconsumers.h"
#include "bench/support/benchpackages.h"
#include "bench/support/benchrepository.h"
#include "server/fleet/fleetadvisories.h"
#include "server/fleet/fleetdatabase.h"
#include "server/fleet/fleetstatement.h"
#include "server/repository/catalogoverrides.h"
#include "server/repository/repositorycatalog.h"
#include "server/repository/repositorysignature.h"
#include "sync/packageadvisories.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/brokernode.h"
#include "tests/support/openpgptestkey.h"
#include "tests/support/processrunner.h"
#include "tests/support/testrepository.h"
#include "tools/demo-catalog/appstreamfile.h"

extern "C" {
#include <solv/pool.h>
#include <solv/repo.h>
#include <solv/repo_rpmmd.h>
#include <solv/solv_xfopen.h>
}

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace
{

using Clock = Arrivals::Clock;
using BenchRepository::Applications;
using BenchRepository::name;
using BenchRepository::Packages;
// The repository's figures print a tenth of a millisecond.
constexpr BenchPackages::Precision Tenths{1, 1, 2};
constexpr int Repetitions = 5;
constexpr int Groups = 100;
constexpr int WaitMs = 120000;
constexpr int Advisories = 5000;
constexpr int FleetDesktops = 10000;
constexpr int FleetAdvisoryCount = 1000;
constexpr int PackagesPerDesktop = 50;

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

// libsolv alone: the primary file opened, decompressed and loaded into a pool.
double libsolvLoadMs(const QString &repo)
{
    const QDir repodata(repo + "/repodata");
    const QString primary =
        repodata.filePath(repodata.entryList({QStringLiteral("*-primary.xml.*")}).value(0));
    QElapsedTimer timer;
    timer.start();
    Pool *pool = pool_create();
    Repo *solvRepo = repo_create(pool, "primary");
    FILE *in = solv_xfopen(primary.toUtf8().constData(), "r");
    if (!in || repo_add_rpmmd(solvRepo, in, nullptr, 0) != 0 || solvRepo->nsolvables != Packages) {
        std::fprintf(stderr, "repository: libsolv did not load %s\n", qPrintable(primary));
        return -1;
    }
    std::fclose(in);
    pool_free(pool);
    return timer.nsecsElapsed() / 1e6;
}

double catalogMs(const QString &repo, const RepositoryChecks &checks = RepositoryChecks())
{
    QElapsedTimer timer;
    timer.start();
    RepositoryCatalog catalog(CatalogOverrides(), QStringLiteral("zh_CN"), checks);
    QString error;
    if (!catalog.read(repo, &error) || catalog.packages().size() != Applications) {
        std::fprintf(stderr, "repository: %s (%d packages)\n", qPrintable(error),
                     int(catalog.packages().size()));
        return -1;
    }
    return timer.nsecsElapsed() / 1e6;
}

// A catalog for each of Groups groups, none alike: each hides one application, pins another
// to its older version, and names a third.
double groupCatalogsMs(const QString &repo)
{
    QString text;
    QStringList groups;
    for (int g = 0; g < Groups; ++g) {
        const QString group = QStringLiteral("g%1").arg(g);
        groups << group;
        text += QStringLiteral("hide %1 for %2\npin %3 1.0-1 for %2\nname %4 for %2 组%2\n")
                    .arg(name(g), group, name(g + Groups), name(g + 2 * Groups));
    }
    CatalogOverrides overrides;
    QString error;
    if (!overrides.parse(text, QStringLiteral("bench"), &error)) {
        std::fprintf(stderr, "repository: %s\n", qPrintable(error));
        return -1;
    }
    QElapsedTimer timer;
    timer.start();
    RepositoryCatalog catalog(overrides, QStringLiteral("zh_CN"));
    if (!catalog.read(repo, groups, {}, &error) || catalog.catalogs().size() != Groups + 1 ||
        catalog.catalogs().value(QStringLiteral("g7")).size() != Applications - 1) {
        std::fprintf(stderr, "repository: groups: %s\n", qPrintable(error));
        return -1;
    }
    return timer.nsecsElapsed() / 1e6;
}

// repomd.xml and its signature read, and the signature checked, as the catalog does first.
double signatureMs(const QString &repo, const RepositorySignature &signature)
{
    QElapsedTimer timer;
    timer.start();
    QFile repomd(repo + "/repodata/repomd.xml");
    QFile asc(repo + "/repodata/repomd.xml.asc");
    QString error;
    if (!repomd.open(QIODevice::ReadOnly) || !asc.open(QIODevice::ReadOnly) ||
        !signature.verify(repomd.readAll(), asc.readAll(), &error)) {
        std::fprintf(stderr, "repository: signature: %s\n", qPrintable(error));
        return -1;
    }
    return timer.nsecsElapsed() / 1e6;
}

// An updateinfo shaped like a distribution's: each advisory names the newer build of one
// application (in turn), three CVE ids, a severity and a type in turn.
QByteArray updateInfoXml(int count)
{
    static const char *const severities[] = {"Critical", "Important", "Moderate", "Low"};
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<updates>\n";
    for (int a = 0; a < count; ++a) {
        QString references;
        for (int c = 0; c < 3; ++c)
            references += QStringLiteral("<reference href=\"https://cve.example.org/CVE-2026-%1\" "
                                         "id=\"CVE-2026-%1\" type=\"cve\" title=\"t\"/>")
                              .arg(10000 + a * 3 + c);
        xml += QStringLiteral("<update from=\"security@example.org\" status=\"stable\" "
                              "type=\"%1\" version=\"2.0\"><id>CVBA-2026:%2</id><title>Update "
                              "of %3</title><severity>%4</severity><issued date=\"2026-11-%5 "
                              "10:00:00\"/><references>%6</references><description>Fixes "
                              "things.</description><pkglist><collection short=\"cv\"><name>cv"
                              "</name><package name=\"%3\" version=\"1.1\" release=\"1\" "
                              "epoch=\"0\" arch=\"x86_64\"><filename>%3-1.1-1.x86_64.rpm"
                              "</filename></package></collection></pkglist></update>\n")
                   .arg(QLatin1String(a % 5 == 4 ? "bugfix" : "security"))
                   .arg(a, 5, 10, QLatin1Char('0'))
                   .arg(name(a % Applications), QLatin1String(severities[a % 4]))
                   .arg(1 + a % 28, 2, 10, QLatin1Char('0'))
                   .arg(references)
                   .toUtf8();
    }
    return xml + "</updates>\n";
}

// A fleet database of FleetDesktops desktops with PackagesPerDesktop of the first 2 *
// FleetAdvisoryCount names each, about half on the version before the fix; the advisories
// name the first FleetAdvisoryCount at 1.1-1.
bool fillFleet(const QString &path)
{
    FleetDatabase db;
    QString error;
    if (!db.open(path, false, &error))
        return false;
    sqlite3_exec(db.handle(), "BEGIN", nullptr, nullptr, nullptr);
    {
        FleetStatement desktop(db.handle(), "INSERT INTO desktops(address, account, first_seen,"
                                            " last_seen, inventory_time) VALUES(?1, ?2, 1, 1, 1)");
        FleetStatement installed(db.handle(), "INSERT OR IGNORE INTO installed(address, name,"
                                              " version) VALUES(?1, ?2, ?3)");
        for (int d = 0; d < FleetDesktops; ++d) {
            const QString address =
                QStringLiteral("10.%1.%2.%3").arg(d % 4).arg(d / 250 % 250).arg(d % 250);
            desktop.text(1, address).text(2, QStringLiteral("desk-") + address).run();
            for (int j = 0; j < PackagesPerDesktop; ++j)
                installed.text(1, address)
                    .text(2, name((d * 7 + j * 40) % (2 * FleetAdvisoryCount)))
                    .text(3, (d + j) % 2 ? QStringLiteral("1.0-1") : QStringLiteral("1.1-1"))
                    .run();
        }
    }
    sqlite3_exec(db.handle(), "COMMIT", nullptr, nullptr, nullptr);
    QVector<Advisory> advisories;
    for (int a = 0; a < FleetAdvisoryCount; ++a)
        advisories << Advisory{QStringLiteral("CVBA-2026:%1").arg(a),
                               QStringLiteral("security"),
                               PackageAdvisories::severities().at(a % 4),
                               QStringLiteral("Update of ") + name(a),
                               1796119200,
                               {QStringLiteral("CVE-2026-%1").arg(10000 + a)},
                               {{name(a), QStringLiteral("1.1-1")}}};
    return FleetAdvisories::replace(db.handle(), advisories, &error);
}

// The report's advisories table on a read-only connection, as the report command makes it.
double advisoryReportMs(const QString &path)
{
    FleetDatabase db;
    QString error;
    if (!db.open(path, true, &error))
        return -1;
    QElapsedTimer timer;
    timer.start();
    const FleetAdvisories report(db.handle(), [](const QString &address, const QString &) {
        return address.startsWith(QLatin1String("10.0.")) ? QStringLiteral("pilot")
                                                          : QStringLiteral("default");
    });
    const FleetReport::Table table = report.overview();
    if (table.rows.size() != FleetAdvisoryCount) {
        std::fprintf(stderr, "repository: report advisories: %d rows\n", int(table.rows.size()));
        return -1;
    }
    return timer.nsecsElapsed() / 1e6;
}

// The floor: the same join stepped through alone, its cells read, no version compared.
double advisoryJoinMs(const QString &path)
{
    FleetDatabase db;
    QString error;
    if (!db.open(path, true, &error))
        return -1;
    QElapsedTimer timer;
    timer.start();
    FleetStatement select(db.handle(), "SELECT ap.advisory, i.address, ifnull(d.account, ''),"
                                       " ap.package, i.version, ap.version FROM advisory_packages"
                                       " ap JOIN installed i ON i.name = ap.package LEFT JOIN"
                                       " desktops d ON d.address = i.address");
    qint64 cells = 0;
    while (select.next())
        cells += select.textAt(1).size() + select.textAt(4).size();
    return cells > 0 ? timer.nsecsElapsed() / 1e6 : -1;
}

// The advisories' figures (alone with --advisories: no broker needed).
int advisoryFigures(const QString &work, const QString &repo)
{
    const QString withInfo = work + "/advisories";
    if (ProcessRunner::run("cp", {"-a", repo, withInfo}).exitCode != 0 ||
        !writeFile(work + "/updateinfo.xml", updateInfoXml(Advisories)) ||
        ProcessRunner::run("modifyrepo_c", {"--mdtype=updateinfo", work + "/updateinfo.xml",
                                            withInfo + "/repodata"})
                .exitCode != 0)
        return 1;
    std::printf("# repository: floor: the same catalog without updateinfo, this run (goal: "
                "ratio <= 1.3)\n");
    BenchPackages::Figure withUpdateInfo;
    withUpdateInfo.label = QStringLiteral("catalog with %1 advisories (ms)").arg(Advisories);
    withUpdateInfo.value = [&] { return catalogMs(withInfo); };
    withUpdateInfo.floor = [&] { return catalogMs(repo); };
    withUpdateInfo.floorFirst = true;
    withUpdateInfo.precision = Tenths;
    if (BenchPackages::measureRow(withUpdateInfo, Repetitions).value < 0)
        return 1;

    const QString fleet = work + "/fleet.db";
    if (!fillFleet(fleet))
        return 1;
    std::printf("# repository: %d desktops of %d packages, %d advisories; floor: SQLite stepping "
                "through the report's join alone (goal: value <= 1000 ms)\n",
                FleetDesktops, PackagesPerDesktop, FleetAdvisoryCount);
    BenchPackages::Figure report;
    report.label = QStringLiteral("report advisories (ms)");
    report.value = [&] { return advisoryReportMs(fleet); };
    report.floor = [&] { return advisoryJoinMs(fleet); };
    report.precision = Tenths;
    return BenchPackages::measureRow(report, Repetitions).value < 0 ? 1 : 0;
}

// Median time from the end of createrepo_c --update to the last desktop holding the push.
double changeToDesktops(int desktops, BrokerNode &node)
{
    TestRepository repository({TestPackage{"cvb-app", "1.0", "1"}});
    QString error;
    if (!repository.isValid() ||
        !AppStreamFile({{"cvb-app", "App", "应用", "An application", {"Office"}, "icon"}})
             .addTo(repository.directory(), &error)) {
        std::fprintf(stderr, "fanout: %s%s\n", qPrintable(repository.errorString()),
                     qPrintable(error));
        return -1;
    }
    Arrivals arrivals(desktops);
    std::vector<QString> addresses;
    for (int i = 0; i < desktops; ++i)
        addresses.push_back(QStringLiteral("10.77.%1.%2").arg(150 + i / 250).arg(i % 250 + 1));
    const QString own = node.freshAddress();
    qputenv("VQS_CONFIG", node.settingsFor(own).toUtf8());
    // The desktops' queues are a group's, made as the server makes them, read on one connection.
    BrokerConsumers consumers(addresses, {}, &arrivals, node.settingsFor(BrokerNode::ServerAddress),
                              node.settingsFor(node.groupAddress()));
    CatalogServerProcess server;
    if (!consumers.isValid() ||
        !server.start({"--config", node.settingsFor(BrokerNode::ServerAddress), "--repository",
                       repository.directory(), "--settle", "0"})) {
        std::fprintf(stderr, "fanout: %s\n", qPrintable(consumers.errorString()));
        return -1;
    }
    std::vector<double> times;
    for (int r = 1; r <= Repetitions; ++r) {
        if (!repository.add({TestPackage{"cvb-app", QStringLiteral("1.%1").arg(r), "1"}}))
            return -1;
        const Clock::time_point published = Clock::now();
        if (!arrivals.waitForAll(r, WaitMs))
            return -1;
        times.push_back(
            std::chrono::duration<double, std::milli>(arrivals.lastOf(r) - published).count());
    }
    return BenchPackages::median(times);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    if (!BenchRepository::build(work.path())) {
        std::fprintf(stderr, "repository: cannot build the benchmark repository\n");
        return 1;
    }
    const QString repo = work.path() + "/repo";
    if (app.arguments().contains(QStringLiteral("--advisories")))
        return advisoryFigures(work.path(), repo);
    std::printf("# repository: %d packages, %d applications, median of %d; floor: libsolv "
                "loading the same primary.xml.gz\n",
                Packages, Applications, Repetitions);
    BenchPackages::printHeader();
    BenchPackages::Figure build;
    build.label = QStringLiteral("catalog from 10,000-package repository (ms)");
    build.value = [&] { return catalogMs(repo); };
    build.floor = [&] { return libsolvLoadMs(repo); };
    build.precision = Tenths;
    const double catalog = BenchPackages::measureRow(build, Repetitions).value;
    if (catalog < 0)
        return 1;

    // A catalog per group against the one catalog of the same run.
    std::printf("# repository: floor: one catalog (no groups), this run\n");
    BenchPackages::Figure grouped;
    grouped.label = QStringLiteral("catalogs for %1 groups (ms)").arg(Groups);
    grouped.value = [&] { return groupCatalogsMs(repo); };
    grouped.fixedFloor = catalog;
    grouped.precision = Tenths;
    if (BenchPackages::measureRow(grouped, Repetitions).value < 0)
        return 1;

    // The signature check against the build it guards (aim: under 2 % of it).
    const OpenPgpTestKey key(QStringLiteral("Bench repository <bench@example.org>"));
    RepositorySignature signature;
    QString error;
    if (!key.isValid() || !key.signDetached(repo + "/repodata/repomd.xml") ||
        !signature.load(key.publicKeyFile(), &error)) {
        std::fprintf(stderr, "repository: no signing key %s\n", qPrintable(error));
        return 1;
    }
    RepositoryChecks checks;
    checks.signature = &signature;
    std::printf("# repository: floor: the catalog built without the signature check, this run\n");
    BenchPackages::Figure check;
    check.label = QStringLiteral("repomd.xml signature check (ms)");
    check.value = [&] { return signatureMs(repo, signature); };
    check.fixedFloor = catalog;
    check.precision = {2, 1, 3};
    BenchPackages::Figure signedCatalog;
    signedCatalog.label = QStringLiteral("catalog with the signature check (ms)");
    signedCatalog.value = [&] { return catalogMs(repo, checks); };
    signedCatalog.fixedFloor = catalog;
    signedCatalog.precision = Tenths;
    if (BenchPackages::measureRow(check, Repetitions).value < 0 ||
        BenchPackages::measureRow(signedCatalog, Repetitions).value < 0)
        return 1;
    if (const int failed = advisoryFigures(work.path(), repo))
        return failed;

    BrokerNode node;
    if (!node.isValid()) {
        std::fprintf(stderr, "repository: %s\n", qPrintable(node.errorString()));
        return 1;
    }
    std::printf("# repository: createrepo_c --update to the last desktop through the broker, "
                "--settle 0, polled every second, median of %d\n",
                Repetitions);
    for (int desktops : {100, 1000}) {
        // One server and its five changes make one reading: the median is taken inside.
        BenchPackages::Figure change;
        change.label = QStringLiteral("repository change to %1 desktops (ms)").arg(desktops);
        change.value = [&] { return changeToDesktops(desktops, node); };
        change.precision = Tenths;
        if (BenchPackages::measureRow(change, 1).value < 0)
            return 1;
    }
    return 0;
}
