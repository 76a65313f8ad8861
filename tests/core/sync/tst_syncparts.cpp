#include "catalogfixture.h"
#include "framereceiver.h"
#include "records/paths.h"
#include "server/repository/catalogdocument.h"
#include "sync/catalogframe.h"
#include "sync/heartthread.h"
#include "sync/iconfetchpool.h"
#include "tests/support/httpserver.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"

#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace CatalogFixture;

namespace
{

QVector<CatalogPackage> numbered(int count, const QString &icon = QString())
{
    QVector<CatalogPackage> packages;
    for (int i = 0; i < count; ++i)
        packages << package(QStringLiteral("应用 %1").arg(i), QStringLiteral("cv-app%1-1-1").arg(i),
                            icon.isEmpty() ? QString() : icon.arg(i), QStringLiteral("t1"));
    return packages;
}

// One step of a delivery: "whole NAMES", or "ID PART/PARTS NAMES [ARCHITECTURE]" with the
// part numbers as sent; NAMES is comma-separated, "-" for none.
QString stepFrame(const QString &step)
{
    const QStringList words = step.split(QLatin1Char(' '));
    const bool whole = words.first() == QLatin1String("whole");
    const QString names = whole ? words.at(1) : words.at(2);
    QVector<CatalogPackage> packages;
    if (names != QLatin1String("-"))
        for (const QString &name : names.split(QLatin1Char(',')))
            packages << package(name, QStringLiteral("cv-") + name.toLower() + "-1-1");
    if (whole)
        return frame(QStringLiteral("data_resp"), QStringLiteral("x86_64"), packages);
    const QStringList numbers = words.at(1).split(QLatin1Char('/'));
    QString attributes =
        QStringLiteral("%1' catalog='%2' part='%3")
            .arg(words.value(3, QStringLiteral("x86_64")), words.at(0), numbers.at(0));
    if (!numbers.at(1).isEmpty())
        attributes += QStringLiteral("' parts='") + numbers.at(1);
    // As the catalog server sends them: the first part a data_resp, the others continued.
    return frame(numbers.at(0) == QLatin1String("1") ? QStringLiteral("data_resp")
                                                     : QLatin1String(CatalogFrame::ContinuedAction),
                 attributes, packages);
}

// A sandbox with the package every receiver needs installed, a tool folder first on PATH, and
// each package's icon served (its own name as content) from the configured icon base.
struct IconWorld {
    IconWorld(const QVector<CatalogPackage> &packages, const QString &tools)
        : sandbox(&TestRepository::shared())
    {
        sandbox.prependPath(toolFolder(tools));
        for (const CatalogPackage &p : packages)
            writeFile(served.path() + '/' + p.icon, p.icon.toUtf8());
        http.reset(new HttpServer(served.path()));
        sandbox.setConfig("iconurl", http->url().chopped(1));
    }
    bool isValid() { return sandbox.isValid() && http->isRunning() && sandbox.install(Hello10); }

    Sandbox sandbox;
    QTemporaryDir served;
    std::unique_ptr<HttpServer> http;
};

} // namespace

class TestSyncParts : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    void splitting_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<int>("packages");
        QTest::addColumn<int>("maxBytes");
        QTest::addColumn<bool>("split");
        QTest::newRow("catalog in one frame") << "data_resp" << 3 << 65535 << false;
        QTest::newRow("empty catalog") << "data_resp" << 0 << 65535 << false;
        QTest::newRow("catalog in parts") << "data_resp" << 40 << 1200 << true;
        QTest::newRow("push in several frames") << "data_add_push" << 40 << 1200 << true;
    }

    // Every package travels once, in order; no frame exceeds the transport with its newline;
    // a catalog in parts numbers them under one id, and anything else is the plain frame.
    void splitting()
    {
        QFETCH(QString, action);
        QFETCH(int, packages);
        QFETCH(int, maxBytes);
        const QVector<CatalogPackage> catalog = numbered(packages);
        QStringList skipped;
        const bool whole = action == QLatin1String("data_resp");
        const QStringList frames =
            whole ? CatalogDocument::catalogFrames(catalog, maxBytes, &skipped)
                  : CatalogDocument::frames(action, catalog, maxBytes, &skipped);
        QVERIFY(skipped.isEmpty());
        QTEST(frames.size() > 1, "split");
        if (frames.size() == 1)
            QCOMPARE(frames.first(), CatalogFrame::compose(action, catalog));

        QStringList names;
        QSet<QString> ids;
        for (int i = 0; i < frames.size(); ++i) {
            QVERIFY(frames[i].toUtf8().size() + 1 <= maxBytes);
            CatalogFrame frame;
            QString error;
            QVERIFY2(frame.parse(frames[i], &error), qPrintable(error));
            QCOMPARE(frame.actionText(),
                     i > 0 && whole ? QLatin1String(CatalogFrame::ContinuedAction) : action);
            QCOMPARE(frame.isCatalogPart(), whole && frames.size() > 1);
            if (frame.isCatalogPart()) {
                QCOMPARE(frame.part(), i + 1);
                QCOMPARE(frame.parts(), frames.size());
                ids << frame.catalogId();
            }
            for (const CatalogPackage &p : frame.packages())
                names << p.name;
        }
        QStringList expected;
        for (const CatalogPackage &p : catalog)
            expected << p.name;
        QCOMPARE(names, expected);
        QCOMPARE(ids.size(), whole && frames.size() > 1 ? 1 : 0);
    }

    // Parts of two deliveries may complete each other only when they hold the same split.
    void catalogIds()
    {
        QStringList skipped;
        auto idOf = [&](const QVector<CatalogPackage> &catalog, int maxBytes) {
            CatalogFrame frame;
            QString error;
            frame.parse(CatalogDocument::catalogFrames(catalog, maxBytes, &skipped).first(),
                        &error);
            return frame.catalogId();
        };
        QVector<CatalogPackage> changed = numbered(40);
        changed[30].rpm = QStringLiteral("cv-app30-2-1");
        const QString id = idOf(numbered(40), 1200);
        QVERIFY(!id.isEmpty());
        QCOMPARE(idOf(numbered(40), 1200), id);
        QVERIFY(idOf(numbered(40), 1500) != id);
        QVERIFY(idOf(changed, 1200) != id);
    }

    void partsOfOneCatalog_data()
    {
        QTest::addColumn<QStringList>("steps");
        QTest::addColumn<QStringList>("rows"); // the catalog after each step
        QTest::newRow("in order") << QStringList{"X 1/3 A,B", "X 2/3 C", "X 3/3 D"}
                                  << QStringList{"A,B,Old", "A,B,C,Old", "A,B,C,D"};
        QTest::newRow("out of order") << QStringList{"X 3/3 D", "X 1/3 A", "X 2/3 B"}
                                      << QStringList{"D,Old", "A,D,Old", "A,B,D"};
        QTest::newRow("lost part")
            << QStringList{"X 1/3 A", "X 3/3 C"} << QStringList{"A,Old", "A,C,Old"};
        QTest::newRow("duplicated part")
            << QStringList{"X 1/2 A", "X 1/2 A", "X 2/2 B"} << QStringList{"A,Old", "A,Old", "A,B"};
        QTest::newRow("next catalog before the last part")
            << QStringList{"X 1/3 A", "X 2/3 B", "Y 1/2 C", "Y 2/2 D"}
            << QStringList{"A,Old", "A,B,Old", "A,B,C,Old", "C,D"};
        QTest::newRow("late part of an abandoned catalog")
            << QStringList{"X 1/2 A", "Y 1/2 B", "X 2/2 C"}
            << QStringList{"A,Old", "A,B,Old", "A,B,C,Old"};
        QTest::newRow("same id, other count")
            << QStringList{"X 1/2 A", "X 2/3 B"} << QStringList{"A,Old", "A,B,Old"};
        QTest::newRow("whole frame between parts")
            << QStringList{"X 1/2 A", "whole E", "X 2/2 B"} << QStringList{"A,Old", "E", "B,E"};
        QTest::newRow("numbers out of range")
            << QStringList{"X 3/2 A", "X 0/2 B", "X 1/x C", "X 2/ D", "X 1/100001 E"}
            << QStringList{"A,Old", "A,B,Old", "A,B,C,Old", "A,B,C,D,Old", "A,B,C,D,E,Old"};
        QTest::newRow("one part of one") << QStringList{"X 1/1 A"} << QStringList{"A"};
        QTest::newRow("empty parts")
            << QStringList{"X 1/2 -", "X 2/2 -"} << QStringList{"Old", "Old"};
        QTest::newRow("part for another architecture")
            << QStringList{"X 1/2 A", "X 2/2 B i686", "X 2/2 B"}
            << QStringList{"A,Old", "A,Old", "A,B"};
    }

    // Rows go only once every part of one catalog is in, against all their names.
    void partsOfOneCatalog()
    {
        QFETCH(QStringList, steps);
        QFETCH(QStringList, rows);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        QVERIFY(insertRow({{"s_name", "Old"}, {"s_rpm", "cv-old-1-1"}}));
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        for (int i = 0; i < steps.size(); ++i) {
            receiver.pigxmlData(stepFrame(steps[i]));
            QCOMPARE(names().join(','), rows[i]);
        }
        // Every part is announced like any other frame, after the refresh of its own.
        QCOMPARE(data.size(), 2 * steps.size());
    }

    // The refresh after a frame rewrites the installed packages in one transaction: one
    // refused row leaves the table as it was, and the install states are not touched.
    void refusedInstalledRowKeepsTable()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        QVERIFY(insertRow({{"s_name", "Hello"}, {"s_rpm", "cv-hello-1.0-1"}, {"sign", "0"}}));
        QVERIFY(exec(Paths::localDatabase(),
                     "insert into software(name,version,release_ver) values('stale','1','1');"
                     "create trigger refuse before insert on software when new.name = 'cv-hello' "
                     "begin select raise(abort, 'refused'); end"));
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        receiver.UpdatePushxmlData();
        QCOMPARE(installed(), QStringList{"stale 1 1"});
        QCOMPARE(row("Hello").value("sign"), QStringLiteral("0"));
        QCOMPARE(data.size(), 0);
    }

    // A stored catalog loaded again in parts keeps its rows and icons: nothing is fetched.
    void secondLoadFetchesNoIcon()
    {
        const QVector<CatalogPackage> catalog = numbered(12, QStringLiteral("icon-%1.png"));
        IconWorld world(catalog, "wgetlog");
        QVERIFY(world.isValid());
        QStringList skipped;
        const QStringList parts = CatalogDocument::catalogFrames(catalog, 600, &skipped);
        QVERIFY(parts.size() >= 3);

        HeartThread receiver;
        for (int load = 0; load < 2; ++load) {
            for (const QString &part : parts) {
                receiver.pigxmlData(part);
                // No row leaves between the first part and the last.
                if (load > 0)
                    QCOMPARE(names().size(), catalog.size());
            }
            QVERIFY(iconFetchesEnded(receiver));
            QCOMPARE(readLines(world.sandbox.path("/.sandbox/wget.log")).size(), catalog.size());
        }
        for (const CatalogPackage &p : catalog) {
            QCOMPARE(readFile(Paths::iconDirectory() + p.icon), p.icon.toUtf8());
            QCOMPARE(row(p.name).value("time"), QStringLiteral("t1"));
        }
    }

    // The frame is stored while its icons are still being fetched, never by more wgets at once
    // than the pool's bound, many icons to a wget.
    void iconFetchesRunBesideTheFrame()
    {
        const QVector<CatalogPackage> packages = numbered(
            IconFetchPool::Workers * IconFetchPool::BatchSize + 2, QStringLiteral("gated-%1.png"));
        IconWorld world(packages, "wgetgate");
        QVERIFY(world.isValid());
        const QString started = world.sandbox.path("/.sandbox/wgetgate/started");

        HeartThread receiver;
        // Told on the fetching threads, counted here.
        int fetched = 0;
        QObject counter;
        connect(
            &receiver, &HeartThread::iconFetched, &counter, [&fetched] { ++fetched; },
            Qt::QueuedConnection);
        receiver.pigxmlData(frame("data_add_push", "x86_64", packages));
        QCOMPARE(names().size(), packages.size());
        // Every worker holds a wget at the gate once all are queued: the rest wait their turn.
        QVERIFY(QTest::qWaitFor([&] { return readLines(started).size() >= IconFetchPool::Workers; },
                                60000));
        QCOMPARE(fetched, 0);
        QCOMPARE(readLines(started).size(), IconFetchPool::Workers);
        QVERIFY(writeFile(world.sandbox.path("/.sandbox/wgetgate/open"), QByteArray()));
        QVERIFY(iconFetchesEnded(receiver));
        QVERIFY(readLines(started).size() <= packages.size() / IconFetchPool::BatchSize + 4);
        QCOMPARE(readLines(world.sandbox.path("/.sandbox/wgetgate/urls")).size(), packages.size());
        for (const CatalogPackage &p : packages)
            QCOMPARE(readFile(Paths::iconDirectory() + p.icon), p.icon.toUtf8());
        QTRY_COMPARE(fetched, packages.size());
    }
};

QTEST_GUILESS_MAIN(TestSyncParts)
#include "tst_syncparts.moc"
