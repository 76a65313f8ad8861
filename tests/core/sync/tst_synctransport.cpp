#include "catalogfixture.h"
#include "catalogserverprocess.h"
#include "framereceiver.h"
#include "records/paths.h"
#include "sync/catalogframe.h"
#include "sync/catalogrequest.h"
#include "sync/catalogrequestretry.h"
#include "sync/getvqsdatathread.h"
#include "sync/heartthread.h"
#include "tests/support/brokernode.h"
#include "tests/support/httpserver.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"
#include "vqs.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace CatalogFixture;

namespace
{

using Recorder = FrameRecorder;
using Receiver = FrameReceiver;

// A catalog file for the server; a few of its packages are installed or upgradable.
QVector<CatalogPackage> writeCatalog(const QString &path, int size)
{
    QVector<CatalogPackage> packages;
    QString xml = QStringLiteral("<catalog>\n");
    for (int i = 0; i < size; ++i) {
        const QString rpm = i == 0   ? QStringLiteral("cv-hello-1.1-1")
                            : i == 1 ? QStringLiteral("cv-hello-1.0-1")
                                     : QStringLiteral("cv-app%1-1.0-1").arg(i);
        CatalogPackage p = package(QStringLiteral("应用 %1").arg(i), rpm,
                                   i == 0 ? QStringLiteral("app-0.png") : QString(), "t1");
        p.desc = QString(size > 100 ? 150 : 3, QChar(0x6587)) + QStringLiteral(" it's <%1>").arg(i);
        packages << p;
        xml += QStringLiteral("  ") + CatalogFrame::packageElement("app", p) + '\n';
    }
    writeFile(path, (xml + QStringLiteral("</catalog>\n")).toUtf8());
    return packages;
}

QStringList namesOf(const QVector<CatalogPackage> &packages)
{
    QStringList result;
    for (const CatalogPackage &p : packages)
        result << p.name;
    result.sort();
    return result;
}

// Each row of a test, once over direct TCP and once through the broker.
template <typename Rows> void onBothTransports(Rows rows)
{
    rows(false, "tcp");
    rows(true, "broker");
}

} // namespace

#define SANDBOX_WITH_HELLO(name)                                                                   \
    Sandbox name(&TestRepository::shared());                                                       \
    QVERIFY2(name.isValid(), qPrintable(name.errorString()));                                      \
    QVERIFY(name.install(Hello10));                                                                \
    QVERIFY(TestKey::catalog().trust())

class TestSyncTransport : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        useLoopbackTransport();
        m_broker = std::make_unique<BrokerNode>();
        QVERIFY2(m_broker->isValid(), qPrintable(m_broker->errorString()));
    }

    void cleanupTestCase() { m_broker.reset(); }

    void receiverEndsOnRunEnd()
    {
        SANDBOX_WITH_HELLO(sandbox);
        QVERIFY(insertRow({{"s_name", "Hello"}, {"s_rpm", "cv-hello-1.0-1"}, {"sign", "2"}}));
        Receiver receiver;
        QVERIFY(receiver.start());
        QVERIFY(receiver.drain("settled"));
        const QVector<Row> before = query(Paths::catalogDatabase(), "select * from softwares");
        const int handled = receiver.recorder.frames.size();

        QVERIFY(receiver.stop());
        QVERIFY(!receiver.isRunning());
        QCOMPARE(query(Paths::catalogDatabase(), "select * from softwares"), before);
        QCOMPARE(receiver.recorder.frames.size(), handled);
    }

    void catalogDelivery_data()
    {
        QTest::addColumn<bool>("broker");
        QTest::addColumn<bool>("overTransport");
        QTest::addColumn<int>("size");
        onBothTransports([](bool broker, const char *name) {
            auto row = [&](const char *what) {
                return &(QTest::newRow(qPrintable(QStringLiteral("%1, %2").arg(name, what)))
                         << broker);
            };
            *row("transport") << true << 4;
            *row("file") << false << 4;
            *row("transport, several frames") << true << 400;
            *row("file, several frames") << false << 400;
        });
    }

    void catalogDelivery()
    {
        QFETCH(bool, broker);
        QFETCH(bool, overTransport);
        QFETCH(int, size);
        SANDBOX_WITH_HELLO(sandbox);
        const QString client = useTransport(broker, sandbox);
        QVERIFY(insertRow({{"s_name", "旧应用"}, {"s_rpm", "cv-old-1-1"}}));
        QTemporaryDir served;
        const QVector<CatalogPackage> catalog = writeCatalog(served.path() + "/catalog.xml", size);
        QVERIFY(writeFile(served.path() + "/app-0.png", "icon"));
        HttpServer http(served.path());
        QVERIFY(http.isRunning());

        CatalogServerProcess server;
        QStringList arguments = serverArguments(broker);
        arguments << "--catalog" << served.path() + "/catalog.xml"
                  << "--files" << served.path();
        if (!overTransport)
            arguments << "--files-only";
        QVERIFY(server.start(arguments));
        const QStringList lines = readLines(served.path() + "/.cv_data/data_x86_64");
        QVERIFY(!lines.isEmpty());
        for (const QString &line : lines)
            QVERIFY(line.toUtf8().size() + 1 <= VQS_MAX_MESSAGE);
        QCOMPARE(lines.size() > 1, size > 100);

        sandbox.setConfig("iconurl", http.url().chopped(1));
        sandbox.setConfig("vqssend", overTransport ? "true" : "false");
        Receiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(receiver.recorder.countStartingWith("<frame action='data_resp"),
                                  lines.size(), 120000);
        QVERIFY(receiver.drain("done"));

        QCOMPARE(names(), namesOf(catalog));
        QCOMPARE(row("应用 0").value("sign"), QStringLiteral("1"));
        QCOMPARE(row("应用 1").value("sign"), QStringLiteral("2"));
        QCOMPARE(row("应用 2").value("sign"), QStringLiteral("0"));
        QCOMPARE(row("应用 3").value("s_description"), catalog[3].desc);
        QCOMPARE(readFile(Paths::iconDirectory() + "app-0.png"), QByteArray("icon"));
        QVERIFY(server.waitFor("join_requ from " + client));
        if (overTransport) {
            QVERIFY(server.waitFor(
                QStringLiteral("data_requ from %1: %2 frame(s)").arg(client).arg(lines.size())));
            QVERIFY(!QFileInfo::exists(Paths::catalogDataFile()));
        } else {
            QVERIFY(server.waitFor(QStringLiteral("data_requ from %1: not answered").arg(client)));
            QCOMPARE(readLines(Paths::catalogDataFile()), lines);
        }
    }

    void unansweredRequestIsAskedAgain_data()
    {
        QTest::addColumn<int>("lost");     // requests swallowed before the server is there
        QTest::addColumn<int>("attempts"); // the most the store makes
        QTest::addColumn<bool>("answered");
        QTest::newRow("the first request lost") << 1 << 12 << true;
        QTest::newRow("two requests lost") << 2 << 12 << true;
        QTest::newRow("the server never there: the store stops asking") << 3 << 3 << false;
    }

    // Over direct TCP a request to a server that is away is lost: the store asks again, after
    // longer pauses and a bounded number of times, until a whole catalog comes.
    void unansweredRequestIsAskedAgain()
    {
        QFETCH(int, lost);
        QFETCH(int, attempts);
        QFETCH(bool, answered);
        SANDBOX_WITH_HELLO(sandbox);
        useTransport(false, sandbox);
        sandbox.setConfig("vqssend", "true");
        QTemporaryDir served;
        writeCatalog(served.path() + "/catalog.xml", 4);
        // Where the server listens, something that takes the requests and answers nothing.
        QTcpServer away;
        QVERIFY(away.listen(QHostAddress("127.0.0.2"),
                            quint16(qEnvironmentVariableIntValue("VQS_PORT"))));
        QByteArray swallowed;
        QObject::connect(&away, &QTcpServer::newConnection, [&] {
            while (QTcpSocket *socket = away.nextPendingConnection()) {
                socket->setParent(&away);
                QObject::connect(socket, &QTcpSocket::readyRead,
                                 [&swallowed, socket] { swallowed += socket->readAll(); });
            }
        });
        Receiver receiver;
        QVERIFY(receiver.start());
        CatalogRequestRetry retry(100, attempts);
        QObject::connect(&receiver.thread(), &HeartThread::catalogAnswered, &retry,
                         &CatalogRequestRetry::answered);
        retry.start();
        QTRY_VERIFY_WITH_TIMEOUT(swallowed.count("data_requ") >= lost, 120000);
        if (!answered) {
            QTRY_VERIFY_WITH_TIMEOUT(!retry.isWaiting(), 120000);
            QCOMPARE(retry.attempts(), attempts);
            QCOMPARE(swallowed.count("data_requ"), attempts);
            return;
        }
        away.close();
        qDeleteAll(away.children());

        CatalogServerProcess server;
        QVERIFY(server.start({"--catalog", served.path() + "/catalog.xml"}));
        QTRY_VERIFY_WITH_TIMEOUT(
            receiver.recorder.countStartingWith("<frame action='data_resp") >= 1, 120000);
        QVERIFY(retry.attempts() > lost);
        QVERIFY(!retry.isWaiting());
        QVERIFY(server.waitFor("data_requ from 127.0.0.1: 1 frame(s)"));
    }

    void vqssendSelectsFileMode_data()
    {
        QTest::addColumn<QString>("value"); // "-": key missing
        QTest::addColumn<bool>("fetched");
        QTest::newRow("true") << "true" << false;
        QTest::newRow("True") << "True" << true;
        QTest::newRow("empty") << "" << true;
        QTest::newRow("false") << "false" << true;
        QTest::newRow("missing") << "-" << true;
    }

    void vqssendSelectsFileMode()
    {
        QFETCH(QString, value);
        QFETCH(bool, fetched);
        SANDBOX_WITH_HELLO(sandbox);
        sandbox.prependPath(toolFolder("wgetlog"));
        QTemporaryDir served;
        const QString first =
            frame("data_resp", "x86_64", {package("A", "cv-a-1-1"), package("B", "cv-b-1-1")});
        const QString second = frame("data_add_push", "x86_64", {package("C", "cv-c-1-1")});
        // Sealed in file order: a line signed earlier than the one before it is a replay.
        const QString lines = TestKey::catalog().seal(first) + '\n';
        QVERIFY(writeFile(served.path() + "/.cv_data/data_x86_64",
                          (lines + TestKey::catalog().seal(second) + '\n').toUtf8()));
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        if (value == QLatin1String("-"))
            sandbox.removeConfig("vqssend");
        else
            sandbox.setConfig("vqssend", value);

        Receiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QVERIFY(receiver.drain("done"));
        const QStringList expected = fetched ? QStringList{"A", "B", "C"} : QStringList();
        QCOMPARE(names(), expected);
        QCOMPARE(QFileInfo::exists(Paths::catalogDataFile()), fetched);
        QCOMPARE(readLines(sandbox.path("/.sandbox/wget.log")).size(), fetched ? 1 : 0);
        // Replayed lines keep their newline, as the file has them.
        if (fetched)
            QVERIFY(receiver.recorder.frames.contains(first + '\n'));
    }

    void serverPushesReachTheCatalog_data() { transportColumn(); }

    void serverPushesReachTheCatalog()
    {
        QFETCH(bool, broker);
        SANDBOX_WITH_HELLO(sandbox);
        const QString client = useTransport(broker, sandbox);
        QTemporaryDir served;
        writeCatalog(served.path() + "/catalog.xml", 3);
        const CatalogPackage changed = package("应用 1", "cv-hello-1.2-1");
        QVERIFY(writeFile(served.path() + "/update.xml",
                          ("<c>" + CatalogFrame::packageElement("p", changed) + "</c>").toUtf8()));
        QVERIFY(writeFile(served.path() + "/delete.xml", "<c><p name='应用 2'/></c>"));
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments(broker) +
                             QStringList{"--catalog", served.path() + "/catalog.xml"}));
        Receiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(names().size(), 3, 60000);

        // To every client that joined, and to a named one.
        QCOMPARE(server.command("push data_update_push " + served.path() + "/update.xml"),
                 QStringLiteral("ok push 1"));
        QCOMPARE(server.command("push data_delete_push " + served.path() + "/delete.xml " + client),
                 QStringLiteral("ok push 1"));
        // The store's own markers do not go through the broker: the last push is waited for.
        QTRY_COMPARE_WITH_TIMEOUT(
            receiver.recorder.countStartingWith("<frame action='data_delete_push'"), 1, 60000);
        QCOMPARE(names(), (QStringList{"应用 0", "应用 1"}));
        QCOMPARE(row("应用 1").value("s_rpm"), QStringLiteral("cv-hello-1.2-1"));
        QCOMPARE(row("应用 1").value("sign"), QStringLiteral("1"));
        const int update = receiver.recorder.frames.indexOf(QRegularExpression(
            "^<frame action='data_update_push'.*", QRegularExpression::DotMatchesEverythingOption));
        QVERIFY(update >= 0);
        QCOMPARE(receiver.recorder.lists.at(update), QStringList{"cv-hello-1.2-1"});
        QCOMPARE(sandbox.notifications().size(), 1);
    }

    void pushFileReplayReachesTheCatalog_data() { transportColumn(); }

    // The push-file poller fetches what the server published and replays it to the store's
    // own receiver.
    void pushFileReplayReachesTheCatalog()
    {
        QFETCH(bool, broker);
        SANDBOX_WITH_HELLO(sandbox);
        useTransport(broker, sandbox);
        sandbox.prependPath(toolFolder("sleepgate"));
        QTemporaryDir served;
        writeCatalog(served.path() + "/catalog.xml", 3);
        const CatalogPackage changed = package("应用 1", "cv-hello-1.2-1");
        QVERIFY(writeFile(served.path() + "/update.xml",
                          ("<c>" + CatalogFrame::packageElement("p", changed) + "</c>").toUtf8()));
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        sandbox.setConfig("refresh", "7");
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments(broker) + QStringList{"--catalog",
                                                                   served.path() + "/catalog.xml",
                                                                   "--files", served.path()}));
        Receiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(names().size(), 3, 60000);

        const QString gates = sandbox.path("/.sandbox/sleep");
        auto requests = [&]() { return readLines(gates + "/requests").size(); };
        auto open = [&](int n) { return writeFile(gates + QStringLiteral("/open-%1").arg(n), ""); };
        // Never ends by design; it is stopped while it waits at a gate.
        GetVQSDataThread *poller = new GetVQSDataThread;
        poller->start();
        // The start-up pause, then the fetch of the file as it was: the baseline.
        for (int gate = 1; gate <= 2; ++gate) {
            QTRY_COMPARE_WITH_TIMEOUT(requests(), gate, 30000);
            QVERIFY(open(gate));
        }
        QTRY_COMPARE_WITH_TIMEOUT(requests(), 3, 30000);
        QCOMPARE(server.command("publish data_update_push " + served.path() + "/update.xml"),
                 QStringLiteral("ok publish 1"));
        QVERIFY(open(3));
        // The next pause starts once the changed file has been replayed.
        QTRY_COMPARE_WITH_TIMEOUT(requests(), 4, 30000);
        QVERIFY(receiver.drain("done"));
        poller->terminate();
        QVERIFY(poller->wait(30000));
        delete poller;
        QCOMPARE(names(), (QStringList{"应用 0", "应用 1", "应用 2"}));
        QCOMPARE(row("应用 1").value("s_rpm"), QStringLiteral("cv-hello-1.2-1"));
        QCOMPARE(row("应用 1").value("sign"), QStringLiteral("1"));
        QCOMPARE(row("应用 2").value("sign"), QStringLiteral("0"));
    }

    // A frame from a stock AMQP client that is not libvqs reaches the store: the wire format
    // is plain AMQP with the frame text as the body.
    void stockClientFrameIsStored()
    {
        SANDBOX_WITH_HELLO(sandbox);
        const QString client = useTransport(true, sandbox);
        Receiver receiver;
        QVERIFY(receiver.start());
        const QString frame = CatalogFrame::compose(QStringLiteral("data_add_push"),
                                                    {package("外来应用", "cv-app9-1.0-1")});
        const ProcessResult published = ProcessRunner::run(
            "amqp-publish",
            m_broker->clientToolArguments(BrokerNode::ServerAddress) +
                QStringList{"--exchange", "corvane", "--routing-key", client, "--persistent",
                            "--body", TestKey::catalog().seal(frame)});
        QVERIFY2(published.exitCode == 0, qPrintable(published.output));
        QTRY_VERIFY_WITH_TIMEOUT(receiver.recorder.frames.contains(frame), 60000);
        QCOMPARE(names(), QStringList{"外来应用"});
        QCOMPARE(row("外来应用").value("s_rpm"), QStringLiteral("cv-app9-1.0-1"));
        QCOMPARE(sandbox.notifications().size(), 1);
    }

    // A desktop account made on a running node as on a system's RabbitMQ: its settings file
    // brings the catalog, and the accounts there already keep their passwords.
    void accountsMadeForADesktop()
    {
        SANDBOX_WITH_HELLO(sandbox);
        // Neither one of the node's desktops nor within its group.
        const QString client = QStringLiteral("10.75.0.1");
        sandbox.setConfig("localip", client);
        sandbox.setConfig("serverip", BrokerNode::ServerAddress);
        QTemporaryDir files;
        const ProcessResult made = m_broker->addAccounts(
            {"--server", BrokerNode::ServerAddress, "--client", client}, files.path());
        QVERIFY2(made.exitCode == 0, qPrintable(made.output));
        QVERIFY(made.output.contains(
            "account catalog-server exists; its password is kept, its rights are set anew"));
        qputenv("VQS_CONFIG", files.filePath("vqs-" + client + ".conf").toUtf8());
        QVERIFY(QFile::exists(files.filePath("vqs-" + client + ".conf")));
        QVERIFY(!QFile::exists(files.filePath("vqs-server.conf")));
        QTemporaryDir served;
        const QVector<CatalogPackage> catalog = writeCatalog(served.path() + "/catalog.xml", 4);
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments(true) +
                             QStringList{"--catalog", served.path() + "/catalog.xml"}));
        Receiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(names(), namesOf(catalog), 60000);
    }

    // A desktop of the group account has no queue until the catalog server hears from it: the
    // server makes it, and the store's receiver, which waited, gets the whole catalog.
    void groupDesktopGetsItsCatalog()
    {
        SANDBOX_WITH_HELLO(sandbox);
        const QString client = m_broker->groupAddress();
        qputenv("VQS_CONFIG", m_broker->settingsFor(client).toUtf8());
        sandbox.setConfig("localip", client);
        sandbox.setConfig("serverip", BrokerNode::ServerAddress);
        QTemporaryDir served;
        const QVector<CatalogPackage> catalog = writeCatalog(served.path() + "/catalog.xml", 4);
        CatalogServerProcess server;
        QVERIFY(server.start(serverArguments(true) +
                             QStringList{"--catalog", served.path() + "/catalog.xml"}));
        Receiver receiver;
        QVERIFY(receiver.start());
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(names(), namesOf(catalog), 60000);
        QVERIFY(server.waitFor("join_requ from " + client));
    }

    void serverSetUpStopsWithTheBrokersAnswer_data()
    {
        QTest::addColumn<bool>("desktopAccount");
        QTest::addColumn<QString>("setting"); // %1: a port nothing listens on
        QTest::addColumn<QString>("answer");
        QTest::newRow("wrong password")
            << false << "password = wrong"
            << "connecting to the broker: server connection error 403, message: ACCESS_REFUSED";
        QTest::newRow("a desktop's account")
            << true << ""
            << "declaring the exchange: server channel error 403, message: ACCESS_REFUSED";
        QTest::newRow("broker out of reach") << false << "url = amqp://127.0.0.1:%1/corvane"
                                             << "connecting to the broker: a socket error occurred";
    }

    // The catalog server sets up the broker before it receives; what the broker answers is
    // its last word.
    void serverSetUpStopsWithTheBrokersAnswer()
    {
        QFETCH(bool, desktopAccount);
        QFETCH(QString, setting);
        QFETCH(QString, answer);
        const QString settings = m_broker->settingsFor(
            desktopAccount ? m_broker->freshAddress() : QString(BrokerNode::ServerAddress),
            {setting.arg(freePort())});
        const ProcessResult run = ProcessRunner::run(QStringLiteral(CORVANE_CATALOG_SERVER),
                                                     {"--config", settings, "--no-serve"});
        QCOMPARE(run.exitCode, 1);
        QVERIFY2(run.output.startsWith("catalog-server: " + answer), qPrintable(run.output));
    }

    void serverDumpsWhatItCannotRead_data()
    {
        QTest::addColumn<bool>("verbose");
        QTest::newRow("verbose") << true;
        QTest::newRow("quiet") << false;
    }

    // A message that is not a frame: the server says so and, with --verbose, dumps it.
    void serverDumpsWhatItCannotRead()
    {
        QFETCH(bool, verbose);
        Sandbox sandbox;
        QVERIFY(sandbox.isValid());
        const QString client = useTransport(true, sandbox);
        CatalogServerProcess server;
        QStringList arguments = serverArguments(true);
        if (verbose)
            arguments << "--verbose";
        QVERIFY(server.start(arguments));
        QCOMPARE(vqs_message_send(BrokerNode::ServerAddress, "<frame action='data_requ' cut"), 0);
        QCOMPARE(vqs_message_send(BrokerNode::ServerAddress,
                                  qPrintable(CatalogFrame::joinRequest(client))),
                 0);
        // One receiving thread: what it does for the first message comes before this line.
        QVERIFY(server.waitFor("join_requ from " + client));
        QCOMPARE(server.output().filter(QRegularExpression("^malformed frame: ")).size(), 1);
        QCOMPARE(server.output().filter(QRegularExpression("^00000000: 3C 66 72 61 6D 65")).size(),
                 verbose ? 1 : 0);
    }

private:
    static void transportColumn()
    {
        QTest::addColumn<bool>("broker");
        onBothTransports([](bool broker, const char *name) { QTest::newRow(name) << broker; });
    }

    // Makes this process the store on the transport; the address the catalog server answers.
    QString useTransport(bool broker, Sandbox &sandbox)
    {
        if (!broker)
            return QStringLiteral("127.0.0.1");
        // An address of its own on the broker: no message of an earlier test is waiting there.
        const QString client = m_broker->freshAddress();
        qputenv("VQS_CONFIG", m_broker->settingsFor(client).toUtf8());
        sandbox.setConfig("localip", client);
        sandbox.setConfig("serverip", BrokerNode::ServerAddress);
        return client;
    }

    QStringList serverArguments(bool broker)
    {
        if (!broker)
            return {};
        return {"--config", m_broker->settingsFor(BrokerNode::ServerAddress)};
    }

    std::unique_ptr<BrokerNode> m_broker;
};

QTEST_GUILESS_MAIN(TestSyncTransport)
#include "tst_synctransport.moc"
