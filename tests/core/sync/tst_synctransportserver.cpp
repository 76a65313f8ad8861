#include "catalogfixture.h"
#include "catalogserverprocess.h"
#include "sync/catalogframe.h"
#include "sync/reportframe.h"
#include "tests/support/amqpclient.h"
#include "tests/support/brokernode.h"
#include "vqs.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <memory>
#include <thread>

using namespace CatalogFixture;

// Whom the catalog server answers, and keeps a report as: through the broker the desktop of the
// account the broker vouches for, over direct TCP one desktop's address only, and how many
// clients it keeps.
class TestSyncTransportServer : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        useLoopbackTransport();
        // Answers to this process's address land here and are let go.
        QCOMPARE(vqs_message_recv_init(), 0);
        std::thread([] {
            QByteArray buffer(VQS_MAX_MESSAGE + 1, '\0');
            for (;;)
                vqs_message_recv(buffer.data());
        }).detach();
        m_broker = std::make_unique<BrokerNode>();
        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
    }

    void cleanupTestCase() { m_broker.reset(); }

    void serverAnswersTheBrokersAccount_data()
    {
        QTest::addColumn<QString>("sender");   // desk, group, or none: no user-id
        QTest::addColumn<QString>("named");    // what the frame names: self, desk, member,
                                               // broadcast, server
        QTest::addColumn<QString>("answered"); // self, named, or refused
        QTest::newRow("a desktop naming itself") << "desk"
                                                 << "self"
                                                 << "self";
        QTest::newRow("a desktop naming another") << "desk"
                                                  << "desk"
                                                  << "self";
        QTest::newRow("a desktop naming a group's desktop") << "desk"
                                                            << "member"
                                                            << "self";
        QTest::newRow("a desktop naming the broadcast address") << "desk"
                                                                << "broadcast"
                                                                << "self";
        QTest::newRow("a group's desktop naming itself") << "group"
                                                         << "self"
                                                         << "self";
        QTest::newRow("a group's desktop naming another of the group") << "group"
                                                                       << "member"
                                                                       << "named";
        QTest::newRow("a group's desktop naming one outside the group") << "group"
                                                                        << "desk"
                                                                        << "refused";
        QTest::newRow("a group's desktop naming the broadcast address") << "group"
                                                                        << "broadcast"
                                                                        << "refused";
        QTest::newRow("a group's desktop naming the server") << "group"
                                                             << "server"
                                                             << "refused";
        QTest::newRow("no user-id") << "none"
                                    << "self"
                                    << "refused";
    }

    // A join request is answered at the desktop of the account the broker vouches for, whatever
    // the frame names; a group's desktop may name another of its group only.
    void serverAnswersTheBrokersAccount()
    {
        QFETCH(QString, sender);
        QFETCH(QString, named);
        QFETCH(QString, answered);
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments(true)));
        const bool group = sender == QLatin1String("group");
        const QString self = group ? m_broker->groupAddress() : m_broker->freshAddress();
        const QString broadcast = QStringLiteral("255.255.255.255");
        const QString other = named == QLatin1String("self")        ? self
                              : named == QLatin1String("desk")      ? m_broker->freshAddress()
                              : named == QLatin1String("member")    ? m_broker->groupAddress()
                              : named == QLatin1String("broadcast") ? broadcast
                                                                    : BrokerNode::ServerAddress;
        AmqpClient desk(*m_broker, self);
        const int before = server.output().size();
        QCOMPARE(
            desk.publish("corvane.server", BrokerNode::ServerAddress,
                         CatalogFrame::joinRequest(other).toUtf8(),
                         sender == QLatin1String("none") ? QString() : m_broker->account(self)),
            QStringLiteral("ok"));
        const QString line = server.waitForLine(QRegularExpression("^(join_requ|refused)"), before);
        const QString at = answered == QLatin1String("self")    ? self
                           : answered == QLatin1String("named") ? other
                                                                : QString();
        QCOMPARE(line.startsWith("refused join_requ: "), at.isEmpty());
        if (!at.isEmpty())
            QCOMPARE(line, "join_requ from " + at);

        // The address the frame named gets nothing: whatever the server sent it before this
        // message would come first.
        const QString watched = other == broadcast ? m_broker->freshAddress() : other;
        const bool watch = watched != QLatin1String(BrokerNode::ServerAddress) && watched != at;
        if (watch && named == QLatin1String("member"))
            QVERIFY(makeQueue(watched));
        if (watch)
            QCOMPARE(server.command("send " + watched + " after"), QStringLiteral("ok send"));
        if (!at.isEmpty())
            QVERIFY(QString::fromUtf8(nextMessage(at))
                        .contains(QRegularExpression("join_resp' group='[a-z]+'><datas client='" +
                                                     QRegularExpression::escape(at) + "'")));
        if (watch)
            QCOMPARE(nextMessage(watched), QByteArray("after"));
    }

    void reportIsTheBrokersAccounts_data()
    {
        QTest::addColumn<QString>("sender"); // desk or group
        QTest::addColumn<QString>("named");  // desk or member
        QTest::addColumn<QString>("kept");   // self, named, or refused
        QTest::newRow("a desktop naming another") << "desk"
                                                  << "desk"
                                                  << "self";
        QTest::newRow("a group's desktop naming another of the group") << "group"
                                                                       << "member"
                                                                       << "named";
        // A group account speaks only for the desktops the server answered for it.
        QTest::newRow("a group's desktop naming one of the group never heard of") << "group"
                                                                                  << "member"
                                                                                  << "refused";
        QTest::newRow("a group's desktop naming one outside the group") << "group"
                                                                        << "desk"
                                                                        << "refused";
    }

    // A report is kept as the account the broker vouches for, whatever desktop it names, and
    // acknowledged there.
    void reportIsTheBrokersAccounts()
    {
        QFETCH(QString, sender);
        QFETCH(QString, named);
        QFETCH(QString, kept);
        QTemporaryDir state;
        const QString fleet = state.path() + "/fleet.db";
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments(true) + QStringList{"--fleet-db", fleet}));
        const QString self =
            sender == QLatin1String("group") ? m_broker->groupAddress() : m_broker->freshAddress();
        const QString other =
            named == QLatin1String("member") ? m_broker->groupAddress() : m_broker->freshAddress();
        AmqpClient desk(*m_broker, self);
        // A group's desktop has its queue from its join.
        if (kept == QLatin1String("named")) {
            QCOMPARE(desk.publish("corvane.server", BrokerNode::ServerAddress,
                                  CatalogFrame::joinRequest(other).toUtf8(),
                                  m_broker->account(self)),
                     QStringLiteral("ok"));
            QVERIFY(server.waitFor("join_requ from " + other));
            QVERIFY(nextMessage(other).contains("join_resp"));
            QCOMPARE(desk.purgeQueue(other), QStringLiteral("ok"));
        }
        ReportFrame::Result result;
        result.id = QStringLiteral("0123456789abcdef-1");
        result.time = 1700000000;
        result.oper = QStringLiteral("安装");
        result.rpm = QStringLiteral("cv-hello-1.0-1");
        QCOMPARE(desk.publish("corvane.server", BrokerNode::ServerAddress,
                              ReportFrame::composeResult(other, result).toUtf8(),
                              m_broker->account(self)),
                 QStringLiteral("ok"));
        const QString at = kept == QLatin1String("self")    ? self
                           : kept == QLatin1String("named") ? other
                                                            : QString();
        if (at.isEmpty()) {
            QVERIFY(server.waitFor("refused report_result: "));
            QVERIFY(!QFileInfo::exists(fleet) || query(fleet, "select * from results").isEmpty());
            return;
        }
        const QString acked = QString::fromUtf8(nextMessage(at));
        QVERIFY2(acked.contains("report_ack"), qPrintable(acked));
        QCOMPARE(query(fleet, "select address from results").value(0).value("address"), at);
    }

    void serverAnswersTheConnectionOverTcp_data()
    {
        QTest::addColumn<QString>("from"); // the address the store's connection comes from
        QTest::addColumn<QString>("named");
        QTest::addColumn<bool>("answered");
        QTest::newRow("a loopback address naming itself") << "127.0.0.1"
                                                          << "127.0.0.1" << true;
        QTest::newRow("another loopback address naming itself") << "127.0.0.3"
                                                                << "127.0.0.3" << true;
        QTest::newRow("naming another desktop") << "127.0.0.3"
                                                << "127.0.0.9" << true;
        QTest::newRow("naming the broadcast address") << "127.0.0.3"
                                                      << "255.255.255.255" << true;
        QTest::newRow("naming no address") << "127.0.0.3"
                                           << "0.0.0.0" << true;
        QTest::newRow("naming a multicast address") << "127.0.0.3"
                                                    << "224.0.0.1" << true;
        QTest::newRow("naming no address at all") << "127.0.0.3"
                                                  << "desk-2" << true;
        QTest::newRow("naming an address spelt with a leading zero") << "127.0.0.3"
                                                                     << "127.0.0.01" << true;
        QTest::newRow("from the server's own address") << "127.0.0.2"
                                                       << "127.0.0.9" << false;
    }

    // Over direct TCP nothing vouches for what a frame names: the server answers the address
    // the connection came from, and only one desktop's.
    void serverAnswersTheConnectionOverTcp()
    {
        QFETCH(QString, from);
        QFETCH(QString, named);
        QFETCH(bool, answered);
        CatalogServerProcess server;
        QVERIFY(server.start({}));
        QVERIFY(CatalogServerProcess::sendFrom(from, {CatalogFrame::joinRequest(named)}));
        const QString line = server.waitForLine(QRegularExpression("^(join_requ|refused)"));
        QCOMPARE(line, answered ? "join_requ from " + from
                                : QStringLiteral("refused join_requ: the connection from \"%1\" is "
                                                 "not one desktop's")
                                      .arg(from));
    }

    void joinFloodLeavesTheServerFlat_data()
    {
        QTest::addColumn<int>("sources"); // loopback addresses the joins come from
        QTest::addColumn<int>("claims");  // joins from each, each naming a new address
        QTest::addColumn<int>("pushed");  // desktops a push reaches afterwards
        QTest::newRow("one connection naming 20000 addresses") << 1 << 20000 << 2;
        QTest::newRow("100 loopback addresses") << 100 << 1 << 8;
    }

    // One account on one desktop naming many addresses: the server answers one desktop per
    // connection, and its threads and memory stay where they were.
    void joinFloodLeavesTheServerFlat()
    {
        QFETCH(int, sources);
        QFETCH(int, claims);
        QFETCH(int, pushed);
        const int senders = 16;
        QTemporaryDir served;
        QVERIFY(
            writeFile(served.path() + "/push.xml",
                      ("<c>" + CatalogFrame::packageElement("p", package("A", "cv-a-1-1")) + "</c>")
                          .toUtf8()));
        CatalogServerProcess server;
        qputenv("VQS_MAX_LANES", QByteArray::number(senders));
        const bool started = server.start({"--max-clients", "8"});
        qunsetenv("VQS_MAX_LANES");
        QVERIFY(started);
        QVERIFY(
            CatalogServerProcess::sendFrom("127.0.0.3", {CatalogFrame::joinRequest("127.0.0.3")}));
        QVERIFY(server.waitFor("join_requ from 127.0.0.3"));
        const qint64 threads = statusOf(server.processId(), "Threads");
        const qint64 rss = statusOf(server.processId(), "VmRSS");

        for (int s = 0; s < sources; ++s) {
            QStringList joins;
            for (int c = 0; c < claims; ++c) {
                const int n = s * claims + c;
                joins << CatalogFrame::joinRequest(
                    QStringLiteral("127.3.%1.%2").arg(n / 250).arg(n % 250 + 1));
            }
            QVERIFY(CatalogServerProcess::sendFrom(sources == 1
                                                       ? QStringLiteral("127.0.0.1")
                                                       : QStringLiteral("127.4.0.%1").arg(s + 1),
                                                   joins));
        }
        QTRY_COMPARE_WITH_TIMEOUT(server.output().filter("join_requ from ").size(),
                                  1 + sources * claims, 300000);
        QVERIFY2(statusOf(server.processId(), "Threads") <= threads + senders,
                 qPrintable(QStringLiteral("%1 threads at first").arg(threads)));
        QVERIFY2(statusOf(server.processId(), "VmRSS") <= rss + 16 * 1024,
                 qPrintable(QStringLiteral("%1 kB at first").arg(rss)));
        QCOMPARE(server.command("push data_add_push " + served.path() + "/push.xml"),
                 QStringLiteral("ok push %1").arg(pushed));
    }

    void groupDesktopsAreCounted_data()
    {
        QTest::addColumn<QStringList>("bounds");
        QTest::addColumn<int>("named");  // new desktops the group's account names at once
        QTest::addColumn<int>("queued"); // of them given a queue
        QTest::newRow("at most the count")
            << QStringList{"--max-group-desktops", "3", "--group-desktop-interval", "0"} << 6 << 3;
        QTest::newRow("at most the pace")
            << QStringList{"--group-desktop-interval", "3600"} << 40 << 32;
    }

    // A group's password sits on each of its desktops: naming many addresses of its prefix
    // makes a bounded number of queues, and the rest is refused in one line each.
    void groupDesktopsAreCounted()
    {
        QFETCH(QStringList, bounds);
        QFETCH(int, named);
        QFETCH(int, queued);
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments(true) + bounds));
        const QString self = m_broker->groupAddress();
        AmqpClient desk(*m_broker, self);
        QStringList addresses;
        for (int i = 0; i < named; ++i) {
            addresses << m_broker->groupAddress();
            QCOMPARE(desk.publish("corvane.server", BrokerNode::ServerAddress,
                                  CatalogFrame::joinRequest(addresses.last()).toUtf8(),
                                  m_broker->account(self)),
                     QStringLiteral("ok"));
        }
        QTRY_COMPARE_WITH_TIMEOUT(
            server.output()
                .filter(QRegularExpression("^(join_requ from|refused join_requ)"))
                .size(),
            named, 60000);
        QCOMPARE(server.output().filter("join_requ from ").size(), queued);
        const ProcessResult listed = m_broker->ctl({"list_queues", "-p", "corvane", "name"});
        QCOMPARE(listed.exitCode, 0);
        QStringList queues;
        for (const QString &line : listed.output.split('\n'))
            queues << line.trimmed();
        int made = 0;
        for (const QString &address : addresses)
            made += queues.contains(address) ? 1 : 0;
        QCOMPARE(made, queued);
    }

    // Desktops may name any address over direct TCP: the clients kept for pushes are bounded,
    // and the one heard from longest ago leaves first.
    void clientTableIsBounded()
    {
        QTemporaryDir served;
        QVERIFY(
            writeFile(served.path() + "/push.xml",
                      ("<c>" + CatalogFrame::packageElement("p", package("A", "cv-a-1-1")) + "</c>")
                          .toUtf8()));
        CatalogServerProcess server;
        QVERIFY(server.start({"--max-clients", "2"}));
        // Each over its own connection: one at a time, so that they come in this order.
        for (const QString client : {"127.0.0.3", "127.0.0.4", "127.0.0.3", "127.0.0.5"}) {
            const int before = server.output().size();
            QVERIFY(CatalogServerProcess::sendFrom(client, {CatalogFrame::joinRequest(client)}));
            QVERIFY(!server.waitForLine(QRegularExpression("^join_requ from " + client), before)
                         .isEmpty());
        }
        QCOMPARE(server.output().filter("client table full").join('|'),
                 QStringLiteral("client table full (2): 127.0.0.4 dropped"));
        QCOMPARE(server.command("push data_add_push " + served.path() + "/push.xml"),
                 QStringLiteral("ok push 2"));
    }

private:
    // A count from /proc/PID/status ("Threads", "VmRSS" in kB); -1 when missing.
    static qint64 statusOf(qint64 pid, const char *key)
    {
        const QStringList lines =
            QString::fromLatin1(readFile(QStringLiteral("/proc/%1/status").arg(pid)))
                .split('\n')
                .filter(QRegularExpression(QStringLiteral("^%1:").arg(QLatin1String(key))));
        return lines.isEmpty()
                   ? -1
                   : lines[0].section(':', 1).simplified().section(' ', 0, 0).toLongLong();
    }

    // A queue for a desktop of the group, bound to its address, made with the server's rights.
    bool makeQueue(const QString &address)
    {
        const QString server = BrokerNode::ServerAddress;
        AmqpClient admin(*m_broker, server);
        return admin.declareQueue(address) == QLatin1String("ok") &&
               admin.bindQueue(address, "corvane", address) == QLatin1String("ok");
    }

    // The next message in the queue of address, read with its own account (the group's for a
    // desktop of the group); empty when none comes.
    QByteArray nextMessage(const QString &address)
    {
        AmqpClient desk(*m_broker, address);
        QByteArray body;
        (void)QTest::qWaitFor(
            [&] { return desk.get(address, &body) == QLatin1String("ok") && !body.isEmpty(); },
            30000);
        return body;
    }

    QStringList serverArguments(bool broker)
    {
        if (!broker)
            return {};
        return {"--config", m_broker->settingsFor(BrokerNode::ServerAddress)};
    }

    std::unique_ptr<BrokerNode> m_broker;
};

QTEST_GUILESS_MAIN(TestSyncTransportServer)
#include "tst_synctransportserver.moc"
