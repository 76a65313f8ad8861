#include "server/fleet/fleetingest.h"
#include "server/groups/groupdesktops.h"
#include "server/groups/requestorigin.h"
#include "server/repository/catalogdiff.h"
#include "server/serving/serverconsole.h"
#include "tests/core/sync/catalogfixture.h"
#include "tests/core/sync/catalogserverprocess.h"
#include "tests/support/freeport.h"
#include "tests/support/processrunner.h"
#include "tests/support/testkey.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

// The catalog server's serving parts on their own: whom a request is answered at, what a
// change of catalog pushes, the command lines, and the process ending on "quit" or SIGTERM.
class TestCatalogServing : public QObject
{
    Q_OBJECT

private slots:
    void answerAddress_data();
    void answerAddress();
    void catalogDiff_data();
    void catalogDiff();
    void console_data();
    void console();
    void serverCommands_data();
    void serverCommands();
    void quitEndsEveryThread_data();
    void quitEndsEveryThread();
    void groupDesktopsKeptAcrossRestarts();
    void desktopTextStaysOnItsLine();
};

namespace
{

const QString Broadcast = QStringLiteral("10.1.255.255");
const QString BrokerOwn = QStringLiteral("10.1.0.1");
const QString TcpOwn = QStringLiteral("127.0.0.2");

// Packages "a".."z" by display name; an attribute changed with "name:attribute".
QVector<CatalogPackage> packages(const QStringList &names)
{
    QVector<CatalogPackage> result;
    for (const QString &spec : names) {
        CatalogPackage package;
        for (const CatalogPackage::Column &column : CatalogPackage::columns())
            package.*column.field = spec.section(QLatin1Char(':'), 0, 0) + column.attribute;
        package.name = spec.section(QLatin1Char(':'), 0, 0);
        const QString changed = spec.section(QLatin1Char(':'), 1);
        for (const CatalogPackage::Column &column : CatalogPackage::columns())
            if (changed == QLatin1String(column.attribute))
                package.*column.field += QStringLiteral(" changed");
        result << package;
    }
    return result;
}

// The service manager's end of NOTIFY_SOCKET: the states the server sends, as they come.
class NotifySocket
{
public:
    explicit NotifySocket(const QString &path) : m_path(path)
    {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
        m_fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~NotifySocket()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    bool isOpen() const { return m_fd >= 0; }
    QString path() const { return m_path; }
    // Every state received so far, one a datagram.
    QStringList states()
    {
        char buffer[4096];
        ssize_t size;
        while ((size = ::recv(m_fd, buffer, sizeof buffer, 0)) > 0)
            m_states << QString::fromUtf8(buffer, int(size));
        return m_states;
    }

private:
    QString m_path;
    int m_fd = -1;
    QStringList m_states;
};

QStringList names(const QVector<CatalogPackage> &list)
{
    QStringList result;
    for (const CatalogPackage &package : list)
        result << package.name;
    return result;
}

} // namespace

void TestCatalogServing::answerAddress_data()
{
    QTest::addColumn<bool>("broker");
    QTest::addColumn<QString>("account");
    QTest::addColumn<QString>("frameClient");
    QTest::addColumn<QString>("peer");
    QTest::addColumn<QString>("answered"); // empty: refused
    QTest::newRow("tcp: the peer, not the claim") << false << ""
                                                  << "10.0.0.9"
                                                  << "10.0.0.7"
                                                  << "10.0.0.7";
    QTest::newRow("tcp: an account claimed is no proof") << false << "desk-10.0.0.9"
                                                         << "10.0.0.9"
                                                         << "10.0.0.7"
                                                         << "10.0.0.7";
    QTest::newRow("tcp: no peer") << false << ""
                                  << "10.0.0.9"
                                  << ""
                                  << "";
    QTest::newRow("tcp: own address") << false << ""
                                      << "" << TcpOwn << "";
    QTest::newRow("tcp: any address") << false << ""
                                      << ""
                                      << "0.0.0.0"
                                      << "";
    QTest::newRow("tcp: limited broadcast") << false << ""
                                            << ""
                                            << "255.255.255.255"
                                            << "";
    QTest::newRow("tcp: multicast") << false << ""
                                    << ""
                                    << "224.0.0.1"
                                    << "";
    QTest::newRow("tcp: leading zero") << false << ""
                                       << ""
                                       << "010.0.0.7"
                                       << "";
    QTest::newRow("broker: desktop account, not the claim") << true << "desk-10.1.2.3"
                                                            << "10.1.2.4"
                                                            << ""
                                                            << "10.1.2.3";
    QTest::newRow("broker: no account") << true << ""
                                        << "10.1.2.3"
                                        << ""
                                        << "";
    QTest::newRow("broker: peer is no proof") << true << ""
                                              << "10.1.2.3"
                                              << "10.1.2.3"
                                              << "";
    QTest::newRow("broker: desktop account of the broadcast") << true << "desk-" + Broadcast << ""
                                                              << ""
                                                              << "";
    QTest::newRow("broker: desktop account of the server") << true << "desk-" + BrokerOwn << ""
                                                           << ""
                                                           << "";
    QTest::newRow("broker: desktop account, malformed") << true << "desk-10.1.2"
                                                        << "10.1.2.3"
                                                        << ""
                                                        << "";
    QTest::newRow("broker: desktop account, trailing text") << true << "desk-10.1.2.3 "
                                                            << "10.1.2.3"
                                                            << ""
                                                            << "";
    QTest::newRow("broker: other account") << true << "admin"
                                           << "10.1.2.3"
                                           << ""
                                           << "";
    QTest::newRow("broker: group names within") << true << "group-10.1"
                                                << "10.1.2.3"
                                                << ""
                                                << "10.1.2.3";
    QTest::newRow("broker: group of one octet") << true << "group-10"
                                                << "10.9.2.3"
                                                << ""
                                                << "10.9.2.3";
    QTest::newRow("broker: group names beyond") << true << "group-10.1"
                                                << "10.10.2.3"
                                                << ""
                                                << "";
    QTest::newRow("broker: group names the broadcast") << true << "group-10.1" << Broadcast << ""
                                                       << "";
    QTest::newRow("broker: group names the server") << true << "group-10.1" << BrokerOwn << ""
                                                    << "";
    QTest::newRow("broker: group names nothing") << true << "group-10.1"
                                                 << ""
                                                 << ""
                                                 << "";
    QTest::newRow("broker: group of four octets") << true << "group-10.1.2.3"
                                                  << "10.1.2.3"
                                                  << ""
                                                  << "";
    QTest::newRow("broker: group prefix malformed") << true << "group-10..1"
                                                    << "10.1.2.3"
                                                    << ""
                                                    << "";
    QTest::newRow("broker: group prefix empty") << true << "group-"
                                                << "10.1.2.3"
                                                << ""
                                                << "";
}

void TestCatalogServing::answerAddress()
{
    QFETCH(bool, broker);
    QFETCH(QString, account);
    QFETCH(QString, frameClient);
    QFETCH(QString, peer);
    QFETCH(QString, answered);
    const RequestOrigin origin(broker ? Broadcast : QString(), broker ? BrokerOwn : TcpOwn);
    QString refusal;
    QCOMPARE(origin.answerAddress(account, frameClient, peer, &refusal), answered);
    QCOMPARE(refusal.isEmpty(), !answered.isEmpty());
}

void TestCatalogServing::catalogDiff_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QStringList>("after");
    QTest::addColumn<QStringList>("added");
    QTest::addColumn<QStringList>("updated");
    QTest::addColumn<QStringList>("deleted");
    QTest::newRow("same") << QStringList{"a", "b"} << QStringList{"a", "b"} << QStringList()
                          << QStringList() << QStringList();
    QTest::newRow("only the order") << QStringList{"a", "b"} << QStringList{"b", "a"}
                                    << QStringList() << QStringList() << QStringList();
    QTest::newRow("added and deleted, in each catalog's order")
        << QStringList{"c", "a", "b"} << QStringList{"b", "e", "d"} << QStringList{"e", "d"}
        << QStringList() << QStringList{"c", "a"};
    QTest::newRow("from nothing") << QStringList() << QStringList{"a", "b"} << QStringList{"a", "b"}
                                  << QStringList() << QStringList();
    QTest::newRow("to nothing") << QStringList{"a", "b"} << QStringList() << QStringList()
                                << QStringList() << QStringList{"a", "b"};
    // Every attribute a store keeps is compared.
    for (const CatalogPackage::Column &column : CatalogPackage::columns()) {
        if (QLatin1String(column.attribute) == QLatin1String("name"))
            continue;
        QTest::addRow("%s changed", column.attribute)
            << QStringList{"a", "b"} << QStringList{"a", QStringLiteral("b:") + column.attribute}
            << QStringList() << QStringList{"b"} << QStringList();
    }
}

void TestCatalogServing::catalogDiff()
{
    QFETCH(QStringList, before);
    QFETCH(QStringList, after);
    QFETCH(QStringList, added);
    QFETCH(QStringList, updated);
    QFETCH(QStringList, deleted);
    const CatalogDiff diff = CatalogDiff::between(packages(before), packages(after));
    QCOMPARE(names(diff.added), added);
    QCOMPARE(names(diff.updated), updated);
    QCOMPARE(names(diff.deleted), deleted);
    QCOMPARE(diff.isEmpty(), added.isEmpty() && updated.isEmpty() && deleted.isEmpty());
    // An update carries the new package whole.
    if (!updated.isEmpty())
        QCOMPARE(diff.updated.first().desc, packages(after).last().desc);
}

void TestCatalogServing::console_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("outcome"); // what the verb saw, the line said, or "stop"
    QTest::newRow("text after the address") << "send 10.0.0.1 a  b"
                                            << "send:a  b";
    QTest::newRow("address inside the verb") << "send e hi"
                                             << "send:hi";
    QTest::newRow("address repeated in the text") << "send 1 x1 1"
                                                  << "send:x1 1";
    QTest::newRow("leading spaces") << "   send 10.0.0.1 hi"
                                    << "send:hi";
    QTest::newRow("spaces kept after the first") << "send 10.0.0.1   hi"
                                                 << "send:  hi";
    QTest::newRow("least words") << "push a f"
                                 << "push:push|a|f";
    QTest::newRow("most words") << "push a f 10.0.0.1"
                                << "push:push|a|f|10.0.0.1";
    QTest::newRow("too many words") << "push a f 10.0.0.1 x"
                                    << "error unknown command: push a f 10.0.0.1 x";
    QTest::newRow("too few words") << "push a"
                                   << "error unknown command: push a";
    QTest::newRow("unknown verb") << "pull a f"
                                  << "error unknown command: pull a f";
    QTest::newRow("verb in capitals") << "PUSH a f"
                                      << "error unknown command: PUSH a f";
    QTest::newRow("tab is no separator") << "push\ta f"
                                         << "error unknown command: push\ta f";
    QTest::newRow("comment") << "#push a f"
                             << "";
    QTest::newRow("blank") << "   "
                           << "";
    QTest::newRow("quit") << "quit"
                          << "stop";
    QTest::newRow("quit with a word") << "quit now"
                                      << "error unknown command: quit now";
}

void TestCatalogServing::console()
{
    QFETCH(QString, line);
    QFETCH(QString, outcome);
    QString seen;
    ServerConsole console([&seen](const QString &text) { seen += text; });
    console.add("send", 3, INT_MAX, [&seen](const ServerConsole::Line &command) {
        seen += "send:" + command.rest(2);
        return true;
    });
    console.add("push", 3, 4, [&seen](const ServerConsole::Line &command) {
        seen += "push:" + command.words.join('|');
        return true;
    });
    console.add("quit", 1, 1, [](const ServerConsole::Line &) { return false; });
    if (!console.run(line))
        seen += "stop";
    QCOMPARE(seen, outcome);
}

void TestCatalogServing::serverCommands_data()
{
    QTest::addColumn<QString>("commands"); // %1: a catalog file of one package
    QTest::addColumn<bool>("files");
    QTest::addColumn<QString>("answers");
    QTest::addColumn<int>("pushed"); // lines in the push file; -1: none
    QTest::newRow("publish appends") << "publish data_add_push %1\npublish data_update_push %1\n"
                                     << true << "ok publish 1\nok publish 1\n"
                                     << 2;
    QTest::newRow("unpublish empties") << "publish data_add_push %1\nunpublish\n"
                                       << true << "ok publish 1\nok unpublish\n"
                                       << 0;
    QTest::newRow("publish without files") << "publish data_add_push %1\n"
                                           << false << "error no --files\n"
                                           << -1;
    QTest::newRow("catalog that reads not") << "publish data_add_push %1.missing\n"
                                            << true << "error " << -1;
    QTest::newRow("wrong word counts")
        << "publish data_add_push\nunpublish now\nheartbeat now\ncatalog\n"
        << true
        << "error unknown command: publish data_add_push\n"
           "error unknown command: unpublish now\nerror unknown command: heartbeat now\n"
           "error unknown command: catalog\n"
        << -1;
    QTest::newRow("nothing after quit") << "quit\npublish data_add_push %1\n"
                                        << true << "ok quit\n"
                                        << -1;
}

void TestCatalogServing::serverCommands()
{
    QFETCH(QString, commands);
    QFETCH(bool, files);
    QFETCH(QString, answers);
    QFETCH(int, pushed);
    QTemporaryDir work;
    const QString catalog = work.filePath("one.xml");
    QVERIFY(CatalogFixture::writeCatalog(catalog, {CatalogFixture::package("One", "one-1-1")}));
    QVERIFY(CatalogFixture::writeFile(work.filePath("commands"), commands.arg(catalog).toUtf8()));
    const QString area = work.filePath("www");
    QStringList arguments{"--no-serve", "--commands", work.filePath("commands")};
    if (files)
        arguments << "--files" << area;
    const ProcessResult result = ProcessRunner::run(CORVANE_CATALOG_SERVER, arguments);
    QVERIFY2(result.exitCode == 0, qPrintable(result.output));
    QVERIFY2(result.output.startsWith(answers), qPrintable(result.output));
    const QString push = area + "/.cv_data/push_x86_64";
    QCOMPARE(QFile::exists(push) ? CatalogFixture::readLines(push).size() : -1, pushed);
}

void TestCatalogServing::quitEndsEveryThread_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<QByteArray>("input"); // empty: SIGTERM, as the service is stopped
    QTest::addColumn<QString>("status");   // what it tells the service manager once ready
    const QStringList everyThread{"--key",
                                  TestKey::catalog().privateKeyFile(),
                                  "--frame-validity",
                                  "2",
                                  "--heartbeat",
                                  "1",
                                  "--repository",
                                  "/nonexistent",
                                  "--settle",
                                  "0"};
    const QString serving = "READY=1\nSTATUS=serving";
    const QString unread = "READY=1\nSTATUS=repository unreadable; serving no catalog yet";
    QTest::newRow("quit, receiving") << QStringList() << QByteArray("quit\n") << serving;
    QTest::newRow("quit, signing anew, beating, following")
        << everyThread << QByteArray("quit\n") << unread;
    QTest::newRow("quit as the input's last line, without its newline")
        << QStringList() << QByteArray("# last\nquit") << serving;
    QTest::newRow("SIGTERM, signing anew, beating, following")
        << everyThread << QByteArray() << unread;
}

void TestCatalogServing::quitEndsEveryThread()
{
    QFETCH(QStringList, options);
    QFETCH(QByteArray, input);
    QFETCH(QString, status);
    QTemporaryDir folder;
    NotifySocket manager(folder.filePath("notify"));
    QVERIFY(manager.isOpen());
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("NOTIFY_SOCKET", manager.path());
    server.setProcessEnvironment(environment);
    server.start(CORVANE_CATALOG_SERVER, options << "--port" << QString::number(freePort())
                                                 << "--bind"
                                                 << "127.0.0.2");
    QString output;
    const auto said = [&](const char *text) {
        output += QString::fromUtf8(server.readAll());
        return output.contains(QLatin1String(text));
    };
    QTRY_VERIFY_WITH_TIMEOUT(said("ready"), 30000);
    QTRY_COMPARE_WITH_TIMEOUT(manager.states(), QStringList{status}, 30000);
    if (input.isEmpty())
        server.terminate();
    server.write(input);
    server.closeWriteChannel();
    QVERIFY2(server.waitForFinished(60000), qPrintable(output));
    QCOMPARE(said("ok quit"), !input.isEmpty());
    QCOMPARE(server.exitStatus(), QProcess::NormalExit);
    QCOMPARE(server.exitCode(), 0);
    QCOMPARE(manager.states(), (QStringList{status, "STOPPING=1"}));
}

QTEST_GUILESS_MAIN(TestCatalogServing)
// Whom a group account speaks for survives a restart, and so does its bound; the reports
// queued are bounded in bytes too.
void TestCatalogServing::groupDesktopsKeptAcrossRestarts()
{
    QTemporaryDir folder;
    const QString file = folder.filePath("group-desktops");
    QString error;
    {
        GroupDesktops groups(2, 0);
        QVERIFY2(groups.keepIn(file, &error), qPrintable(error));
        QVERIFY(groups.admit("group-10.1", "10.1.0.1", &error));
        QVERIFY(groups.admit("group-10.1", "10.1.0.2", &error));
    }
    GroupDesktops restarted(2, 0);
    QVERIFY2(restarted.keepIn(file, &error), qPrintable(error));
    QVERIFY(restarted.isAdmitted("group-10.1", "10.1.0.2"));
    QVERIFY(!restarted.isAdmitted("group-10.2", "10.1.0.2"));
    QVERIFY(!restarted.admit("group-10.1", "10.1.0.3", &error));
    QVERIFY(!restarted.isAdmitted("group-10.1", "10.1.0.3"));

    FleetIngest::Settings settings;
    settings.queueBytes = 1000;
    FleetIngest ingest(
        settings, [](const QString &, const QStringList &) {}, [](const QString &) {});
    FleetDatabase::Report report;
    report.bytes = 600;
    QVERIFY(ingest.submit(report));
    QVERIFY(!ingest.submit(report));
}

// What a desktop writes never starts a log line of its own.
void TestCatalogServing::desktopTextStaysOnItsLine()
{
    qputenv("VQS_PORT", QByteArray::number(freePort()));
    CatalogServerProcess server;
    QVERIFY(server.start({}));
    QVERIFY(CatalogServerProcess::sendFrom(
        "127.0.0.3",
        {"<frame action='bogus'><datas client='a&#10;&lt;2&gt;forged&#13;x'/></frame>"}));
    QVERIFY(
        !server.waitForLine(QRegularExpression("^ignored bogus from a <2>forged x$")).isEmpty());
    QVERIFY(server.output().filter(QRegularExpression("^<2>|^forged|^x$")).isEmpty());
}

#include "tst_catalogserving.moc"
