#include "pushpacer.h"
#include "shell/mainwindow.h"
#include "standarderrorcapture.h"
#include "storearrivals.h"
#include "storeprocess.h"
#include "tests/app/shell/shellharness.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/brokernode.h"
#include "tests/support/stallwatch.h"
#include "tests/support/testrepository.h"
#include "tests/support/withoutstalling.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

namespace
{

const int Long = 180000;
const TestPackage Hello10{QStringLiteral("cv-hello"), QStringLiteral("1.0"), QStringLiteral("1")};

// The nodes (from 0) that "vqs: now using ..." lines among lines name, in order.
QVector<int> movesIn(const QStringList &lines)
{
    static const QRegularExpression move(
        QStringLiteral("^vqs: now using broker \\S+, vhost \\S+ \\(node (\\d+) of \\d+\\)$"));
    QVector<int> nodes;
    for (const QString &line : lines) {
        const QRegularExpressionMatch match = move.match(line);
        if (match.hasMatch())
            nodes << match.captured(1).toInt() - 1;
    }
    return nodes;
}

QStringList pushesUpTo(int count)
{
    QStringList names;
    for (int push = 1; push <= count; ++push)
        names << PushPacer::packageName(push);
    return names;
}

// Whether a store took the first count pushes, each once, in order and with its notice.
bool tookInOrder(const StoreArrivals &arrivals, int count)
{
    return arrivals.count() == count && arrivals.packages() == pushesUpTo(count) &&
           arrivals.notices() == count;
}

// What one store took of count pushes, for the record; gaps: the longest times between two
// arrivals while one node was lost and while the majority was.
void report(const char *store, int count, const StoreArrivals &arrivals,
            const QVector<qint64> &gaps = {})
{
    const QString gapText =
        gaps.isEmpty() ? QString()
                       : QStringLiteral("; longest gap between arrivals %1 ms with one node "
                                        "lost, %2 ms with two")
                             .arg(gaps[0])
                             .arg(gaps[1]);
    qInfo("%s: %d pushes sent, %d received, %d duplicates%s", store, count, arrivals.count(),
          arrivals.notices() - arrivals.count(), qPrintable(gapText));
}

} // namespace

// The catalog server and two stores on a cluster of three RabbitMQ nodes (the server's queue a
// quorum queue, the desktops' classic ones on one node) and the stream of pushes, one of the
// stores the window of this process, while the server pushes every second.
class TestCluster : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        m_cluster = std::make_unique<BrokerNode>(3);
        QVERIFY2(m_cluster->isValid(), qPrintable(m_cluster->errorString()));
        QVERIFY(m_files.isValid());
        m_stream = m_cluster->setting(BrokerNode::ServerAddress, "stream");
        QVERIFY(!m_stream.isEmpty());
    }

    void cleanupTestCase() { m_cluster.reset(); }

    // The node of the stream's leader hangs as a push goes out, an answer to one desktop
    // follows the push, and the hung node is killed only once the push has waited longer than
    // the desktop holds an answer for it: the desktop still takes the push first (with the
    // answer let out at once, it took the answer, then the push).
    void answerFollowsPushThroughLeaderLoss()
    {
        const QString desk = m_cluster->freshAddress();
        int leader = -1;
        int queueAt = -1; // the desktop's queue is a classic one, on one node
        auto look = [&] {
            return withoutStalling([&] {
                return (leader = m_cluster->leaderOf(m_stream)) >= 0 &&
                       (queueAt = m_cluster->leaderOf(desk)) >= 0;
            });
        };
        QVERIFY(look());
        if (leader == queueAt) {
            // The leader moves off the queue's node: that node lost and back.
            const int was = leader;
            QVERIFY(withoutStalling([&] { return m_cluster->killVm(was); }));
            QTRY_VERIFY_WITH_TIMEOUT(withoutStalling([&] {
                                         leader = m_cluster->leaderOf(m_stream);
                                         return leader >= 0 && leader != was;
                                     }),
                                     Long);
            QVERIFY(withoutStalling([&] { return m_cluster->startNode(was); }));
            QTRY_VERIFY_WITH_TIMEOUT(look(), Long);
        }
        // Both ends on the queue's node alone, which stays.
        const QString node =
            "url = " + m_cluster->setting(desk, "url")
                           .split(QRegularExpression("[ ,]+"), Qt::SkipEmptyParts)[queueAt];
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("VQS_CONFIG", m_cluster->settingsFor(desk, {node}));
        QProcess receiver;
        receiver.setProcessEnvironment(env);
        receiver.start(VQS_PEER_PROGRAM, {"recv", "3"});
        QVERIFY(receiver.waitForReadyRead(Long));
        QCOMPARE(receiver.readLine(), QByteArray("init 0\n"));
        QVERIFY(m_cluster->freezeVm(leader));
        env.insert("VQS_CONFIG", m_cluster->settingsFor(BrokerNode::ServerAddress, {node}));
        QProcess sender;
        sender.setProcessEnvironment(env);
        // The first message from a sender waits for nothing; the answer waits for the push.
        sender.start(VQS_PEER_PROGRAM,
                     {"stay", desk, "first", "255.255.255.255", "push", desk, "answer"});
        // Written again to the hung leader, unconfirmed twice: past the desktop's hold.
        QString said;
        QTRY_VERIFY_WITH_TIMEOUT(
            (said += sender.readAllStandardError()).count("confirmed no message for 5 s") >= 2,
            Long);
        QVERIFY(withoutStalling([&] { return m_cluster->killVm(leader); }));
        const bool ended = receiver.waitForFinished(Long);
        sender.closeWriteChannel();
        QVERIFY(sender.waitForFinished(Long));
        const QStringList got =
            QString::fromUtf8(receiver.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts);
        const int push = got.indexOf("4 push");
        QVERIFY2(ended && got.size() == 3 && got.contains("5 first") && push >= 0 &&
                     push < got.indexOf("6 answer"),
                 qPrintable(got.join(", ") + '\n' + receiver.readAllStandardError() + said +
                            sender.readAllStandardError()));
        QCOMPARE(sender.exitCode(), 0);
        QVERIFY(withoutStalling([&] { return m_cluster->startNode(leader); }));
    }

    // The node holding the stream's leader, then one store's, then the server's is killed,
    // then two nodes at once: every push reaches every store once and in order, each store
    // says once where it moved, the window keeps to its events; without a majority nothing is
    // taken, and all comes once a node is back. A desktop that was off meanwhile gets every
    // push when it starts again.
    void nodeLossesLoseNothing()
    {
        // Sandboxes nest: the one made last is the current one while it lives.
        Sandbox offSandbox(&TestRepository::shared());
        QVERIFY2(offSandbox.isValid(), qPrintable(offSandbox.errorString()));
        QVERIFY(offSandbox.install(Hello10));
        QString off;
        const QString offSettings = useCluster(offSandbox, &off);
        {
            // The off desktop has run once: it keeps its place in the stream.
            StoreProcess firstRun(offSettings);
            QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(m_cluster->setting(off, "offset_file")), Long);
        }
        auto otherSandbox = std::make_unique<Sandbox>(&TestRepository::shared());
        QVERIFY2(otherSandbox->isValid(), qPrintable(otherSandbox->errorString()));
        QVERIFY(otherSandbox->install(Hello10));
        QString other;
        const QString otherSettings = useCluster(*otherSandbox, &other);

        CatalogServerProcess server;
        QVERIFY(server.start(
            {"--files-only", "--config", m_cluster->settingsFor(BrokerNode::ServerAddress)}));
        auto otherStore = std::make_unique<StoreProcess>(otherSettings);
        StandardErrorCapture windowErrors;
        auto h = std::make_unique<ShellHarness>();
        QVERIFY(h->isValid());
        QString own;
        qputenv("VQS_CONFIG", useCluster(h->sandbox(), &own).toUtf8());
        h->start();
        QVERIFY(server.waitFor("join_requ from " + own, Long));
        QVERIFY(server.waitFor("join_requ from " + other, Long));

        StoreArrivals ownArrivals(h->sandbox().root());
        StoreArrivals otherArrivals(otherSandbox->root());
        // To every desktop at once: through the stream.
        PushPacer pacer(server, m_files.path(), {});
        StallWatch watch;
        pacer.start();
        auto bothHave = [&](int count) {
            return ownArrivals.count() >= count && otherArrivals.count() >= count;
        };
        QTRY_VERIFY_WITH_TIMEOUT(bothHave(1), Long);

        // Where each is; each store's two connections start at the same node.
        const QStringList parties{own, other, QString::fromLatin1(BrokerNode::ServerAddress)};
        QVector<int> at(parties.size(), -1);
        auto locate = [&] {
            return withoutStalling([&] {
                for (int i = 0; i < parties.size(); ++i)
                    at[i] = m_cluster->nodeOf(parties[i]);
                return !at.contains(-1);
            });
        };
        QVERIFY(locate());
        auto moves = [&](int store) {
            return movesIn(store == 0 ? windowErrors.lines() : otherStore->transportLines());
        };

        // One node lost while the pushes go on, then started again: each store that was on it
        // says once which node it moved to, and is there.
        auto loseNode = [&](int node) {
            const QVector<int> wereAt = at;
            const QVector<int> saidBefore{moves(0).size(), moves(1).size()};
            QVERIFY(withoutStalling([&] { return m_cluster->killVm(node); }));
            const int sentAtLoss = pacer.sent();
            QTRY_VERIFY_WITH_TIMEOUT(bothHave(sentAtLoss + 2), Long);
            QVERIFY(locate());
            for (int store = 0; store < 2; ++store) {
                const QVector<int> said = moves(store).mid(saidBefore[store]);
                QCOMPARE(said, wereAt[store] == node ? QVector<int>{at[store]} : QVector<int>{});
            }
            QVERIFY(withoutStalling([&] { return m_cluster->startNode(node); }));
        };
        // The stream's leader first, with pushes in flight; then a node a store is on and the
        // server is not, when there is one.
        int leader = -1;
        QVERIFY(withoutStalling([&] { return (leader = m_cluster->leaderOf(m_stream)) >= 0; }));
        loseNode(leader);
        if (QTest::currentTestFailed())
            return;
        QVERIFY(locate());
        const int serverAt = 2; // the server's place in parties
        loseNode(at[0] != at[serverAt] ? at[0] : at[1] != at[serverAt] ? at[1] : at[serverAt]);
        if (QTest::currentTestFailed())
            return;
        loseNode(at[serverAt]);
        if (QTest::currentTestFailed())
            return;

        const QVector<qint64> oneLostGaps{ownArrivals.longestGapMs(), otherArrivals.longestGapMs()};
        ownArrivals.restartGaps();
        otherArrivals.restartGaps();
        // Pushes held while a leader settles come together, and each reloads the window's table
        // on the GUI thread (1.1 s for a burst was seen under load); what this guards against,
        // a wait of the transport on that thread, lasts seconds.
        QVERIFY(watch.responsive("with one node lost", 2 * StallWatch::LimitMs));
        // Held pushes that come together after the majority returns each reload the window's
        // table in one go on the GUI thread: said, not held against the transport.
        watch.restart();

        // Two nodes lost: without a majority no push is taken, the server holds them.
        const int survivor = at[serverAt];
        for (int node = 0; node < m_cluster->nodes(); ++node) {
            if (node != survivor)
                QVERIFY(withoutStalling([&] { return m_cluster->killVm(node); }));
        }
        const int sentAtLoss = pacer.sent();
        QTRY_VERIFY_WITH_TIMEOUT(pacer.sent() >= sentAtLoss + 3, Long);
        QVERIFY(ownArrivals.count() <= sentAtLoss && otherArrivals.count() <= sentAtLoss);
        const int heldBack = pacer.sent();
        QVERIFY(withoutStalling(
            [&] { return m_cluster->startNode((survivor + 1) % m_cluster->nodes()); }));
        QTRY_VERIFY_WITH_TIMEOUT(bothHave(heldBack), Long);
        pacer.stop();
        const int sent = pacer.sent();
        QCOMPARE(pacer.failure(), QString());
        // Every push, the last too, with nothing pushed after it.
        QTRY_VERIFY_WITH_TIMEOUT(tookInOrder(ownArrivals, sent), Long);
        QTRY_VERIFY_WITH_TIMEOUT(tookInOrder(otherArrivals, sent), Long);
        report("the window's store", sent, ownArrivals,
               {oneLostGaps[0], ownArrivals.longestGapMs()});
        report("the other store", sent, otherArrivals,
               {oneLostGaps[1], otherArrivals.longestGapMs()});
        qInfo("longest time the GUI thread was kept from its events with two nodes lost and "
              "back: %lld ms",
              watch.longestGapMs());

        // The off desktop: the others' sandboxes end, its own is the current one again.
        h.reset();
        otherStore.reset();
        otherSandbox.reset();
        StoreProcess offStore(offSettings);
        StoreArrivals offArrivals(offSandbox.root());
        QTRY_VERIFY_WITH_TIMEOUT(tookInOrder(offArrivals, sent), Long);
        report("the desktop that was off", sent, offArrivals);
    }

private:
    // The sandbox's store at a desktop address of its own; its settings file, which lists
    // the cluster's nodes.
    QString useCluster(Sandbox &sandbox, QString *address)
    {
        *address = m_cluster->freshAddress();
        sandbox.setConfig("localip", *address);
        sandbox.setConfig("serverip", BrokerNode::ServerAddress);
        return m_cluster->settingsFor(*address);
    }

    std::unique_ptr<BrokerNode> m_cluster;
    QTemporaryDir m_files;
    QString m_stream;
};

QTEST_MAIN(TestCluster)

#include "tst_cluster.moc"
