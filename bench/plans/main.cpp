// The desktops' plans after a repository change: 10,000 desktops of a fleet database in ten
// address groups, three requirements of each group's own and one for everyone, the catalog
// server's repository follower (--settle 0) and its plan service in one process, as the
// server runs them. A change gives the required packages a new release: every plan says
// something else, so all 10,000 are written and signed anew. Floor: the catalog build of the
// same repository with the same groups and overrides, which any plan has to wait for.
#include "bench/support/benchpackages.h"
#include "bench/support/benchrepository.h"
#include "server/fleet/fleetdatabase.h"
#include "server/fleet/fleetstatement.h"
#include "server/groups/desktopgroups.h"
#include "server/plans/planservice.h"
#include "server/repository/catalogoverrides.h"
#include "server/repository/repositorycatalog.h"
#include "server/serving/catalogserver.h"
#include "server/serving/filearea.h"
#include "server/serving/repositoryfollower.h"
#include "sync/signingkey.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <sqlite3.h>

#include <cstdio>
#include <vector>

namespace
{

constexpr int Groups = 10;
constexpr int DesktopsPerGroup = 1000;
constexpr int OwnRequirements = 3;
constexpr int Repetitions = 5;
// The names whose release a change raises: every one a requirement names.
constexpr int ChangedNames = 1 + Groups * OwnRequirements;

QString groupName(int g)
{
    return QStringLiteral("g%1").arg(g);
}

// Group g is 10.g.0.0/16, as the service configuration's --desktop-group names it.
QString desktopAddress(int g, int d)
{
    return QStringLiteral("10.%1.%2.%3").arg(g).arg(d / 250).arg(d % 250 + 1);
}

// Everyone keeps the first application; each group three of its own.
QByteArray overridesText()
{
    QString text = QStringLiteral("require %1 by 2027-01-31 window 01:00-05:00\n")
                       .arg(BenchRepository::name(0));
    for (int g = 0; g < Groups; ++g)
        for (int r = 1; r <= OwnRequirements; ++r)
            text += QStringLiteral("require %1 for %2 by 2027-01-31 window 01:00-05:00\n")
                        .arg(BenchRepository::name(g * OwnRequirements + r), groupName(g));
    return text.toUtf8();
}

// The desktops as the ingest knows them after their first reports, in the server's schema.
bool fillFleet(const QString &path)
{
    FleetDatabase db;
    QString error;
    if (!db.open(path, false, &error)) {
        std::fprintf(stderr, "plans: %s\n", qPrintable(error));
        return false;
    }
    sqlite3_exec(db.handle(), "BEGIN", nullptr, nullptr, nullptr);
    {
        FleetStatement desktop(db.handle(), "INSERT INTO desktops(address, account, first_seen,"
                                            " last_seen, inventory_time) VALUES(?1, '', 1, 1, 1)");
        for (int g = 0; g < Groups; ++g)
            for (int d = 0; d < DesktopsPerGroup; ++d)
                desktop.text(1, desktopAddress(g, d)).run();
    }
    return sqlite3_exec(db.handle(), "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK;
}

bool writeFile(const QString &path, const QByteArray &data)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(data) == data.size();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir work;
    const QString files = work.filePath("files");
    const QString overrides = work.filePath("overrides.conf");
    const QString fleet = work.filePath("fleet.db");
    DesktopGroups groups;
    QStringList names;
    QString error;
    for (int g = 0; g < Groups; ++g) {
        names << groupName(g);
        if (!groups.add(groupName(g) + QStringLiteral(" 10.%1.0.0/16").arg(g), &error)) {
            std::fprintf(stderr, "plans: %s\n", qPrintable(error));
            return 1;
        }
    }
    if (!BenchRepository::build(work.path()) || !writeFile(overrides, overridesText()) ||
        !fillFleet(fleet) || !QDir().mkpath(files)) {
        std::fprintf(stderr, "plans: cannot set up the repository, overrides or fleet\n");
        return 1;
    }
    const QString repo = work.filePath("repo");

    CatalogServer server(files, 65535, true, false);
    server.setDesktopGroups(groups);
    server.setSigningKey(SigningKey::generate(), work.filePath("catalog.key.sequence"));
    RepositoryFollower::Settings settings;
    settings.repository = repo;
    settings.overrides = overrides;
    settings.files = files;
    settings.settleMs = 0;
    settings.groups = names;
    RepositoryFollower follower(&server, settings);
    PlanService plans(&server, &follower);
    if (!follower.publishFirst(&error) || !plans.open(fleet, &error)) {
        std::fprintf(stderr, "plans: %s\n", qPrintable(error));
        return 1;
    }
    const int desktops = Groups * DesktopsPerGroup;
    QElapsedTimer first;
    first.start();
    if (plans.look(QDateTime::currentSecsSinceEpoch(), &error) != desktops) {
        std::fprintf(stderr, "plans: first look: %s\n", qPrintable(error));
        return 1;
    }
    const double firstMs = first.nsecsElapsed() / 1e6;

    CatalogOverrides statements;
    if (!statements.load(overrides, &error)) {
        std::fprintf(stderr, "plans: %s\n", qPrintable(error));
        return 1;
    }
    // The catalog the follower builds for the same groups and statements, nothing else.
    const auto catalogMs = [&] {
        QElapsedTimer timer;
        timer.start();
        RepositoryCatalog catalog(statements, QStringLiteral("zh_CN"));
        QString failure;
        if (!catalog.read(repo, names, {}, &failure) ||
            catalog.catalogs().value(QStringLiteral("default")).size() !=
                BenchRepository::Applications) {
            std::fprintf(stderr, "plans: catalog: %s\n", qPrintable(failure));
            return -1.0;
        }
        return timer.nsecsElapsed() / 1e6;
    };
    // A change, then the server's two looks that follow it: the follower's, the plans'.
    int release = 1;
    std::vector<double> followerMs, writerMs;
    const auto changeMs = [&] {
        ++release;
        if (!BenchRepository::replacePrimary(
                work.path(), [release](int name) { return name < ChangedNames ? release : 1; }))
            return -1.0;
        QElapsedTimer timer;
        timer.start();
        if (!follower.check())
            return -1.0;
        followerMs.push_back(timer.nsecsElapsed() / 1e6);
        QString failure;
        const int written = plans.look(QDateTime::currentSecsSinceEpoch(), &failure);
        const double ms = timer.nsecsElapsed() / 1e6;
        if (written != desktops) {
            std::fprintf(stderr, "plans: %d of %d written %s\n", written, desktops,
                         qPrintable(failure));
            return -1.0;
        }
        writerMs.push_back(ms - followerMs.back());
        return ms;
    };

    std::printf("# plans: %d desktops in %d groups, %d requirements each, a %d-package "
                "repository; median of %d; floor: the catalog build of the same repository and "
                "groups, this run (goal: value <= 2000 ms)\n",
                desktops, Groups, OwnRequirements + 1, BenchRepository::Packages, Repetitions);
    BenchPackages::printHeader();
    BenchPackages::Figure change;
    change.label = QStringLiteral("repository change to 10,000 plans (ms)");
    change.value = changeMs;
    change.floor = catalogMs;
    change.precision = {1, 1, 2};
    const BenchPackages::Medians medians = BenchPackages::measureRow(change, Repetitions);
    if (medians.value < 0)
        return 1;
    // The plan service's own floor: as many files of a plan's size written through the file
    // area as it writes them (beside, synced, renamed), nothing composed or signed.
    const FileArea area(files);
    QByteArray sample;
    if (!area.read(PlanWriter::planFile(desktopAddress(0, 0)), &sample, &error) || sample.isEmpty())
        return 1;
    const auto bareWritesMs = [&] {
        QElapsedTimer timer;
        timer.start();
        QString failure;
        for (int g = 0; g < Groups; ++g)
            for (int d = 0; d < DesktopsPerGroup; ++d)
                if (!area.write(QStringLiteral(".cv_data/bare/") + desktopAddress(g, d), sample,
                                &failure))
                    return -1.0;
        return timer.nsecsElapsed() / 1e6;
    };
    const double writesMs =
        BenchPackages::medianMs([&] { return bareWritesMs() >= 0; }, Repetitions);
    std::printf("# plans: the two parts of each change (the plan service's floor: %d files of a "
                "plan's size through FileArea::write alone), and the first look after a start\n",
                desktops);
    BenchPackages::printRow(QStringLiteral("  follower: catalog read and published (ms)"),
                            BenchPackages::median(followerMs), medians.floor, change.precision);
    BenchPackages::printRow(QStringLiteral("  plan service: 10,000 written, signed (ms)"),
                            BenchPackages::median(writerMs), writesMs, change.precision);
    BenchPackages::printRow(QStringLiteral("first look after a start: 10,000 plans (ms)"), firstMs,
                            medians.floor, change.precision);
    return 0;
}
