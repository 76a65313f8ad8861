#include "catalogfixture.h"
#include "framereceiver.h"
#include "records/paths.h"
#include "sync/catalogframe.h"
#include "sync/catalogsql.h"
#include "sync/heartthread.h"
#include "sync/initdatathread.h"
#include "sync/installedpackages.h"
#include "tests/support/httpserver.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

using namespace CatalogFixture;

namespace
{

const QString AddNotice =
    QStringLiteral("-t\t5000\tCorvane有新增软件!\t请前往Corvane刷新或重启以获取更新数据并查看");
const QString UpdateNotice =
    QStringLiteral("-t\t5000\tCorvane有更新!\t请前往Corvane刷新或重启以获取更新数据并查看");

const TestPackage MyTool{QStringLiteral("my-tool"), QStringLiteral("2.1"), QStringLiteral("3")};
const TestPackage Foo{QStringLiteral("foo"), QStringLiteral("1.0"), QStringLiteral("1.el7")};

// Package names outside the shared repository's naming, for the listing's edge cases.
TestRepository &extraRepository()
{
    static TestRepository repository({MyTool, Foo});
    return repository;
}

bool installExtra(const Sandbox &sandbox, const TestPackage &package)
{
    return sandbox.rpm({QStringLiteral("-Uvh"), extraRepository().packageFile(package)}).exitCode ==
           0;
}

// The package lists of the frame notifications, leaving out the "info" ones of the refresh.
QVector<QStringList> frameLists(const QSignalSpy &spy)
{
    QVector<QStringList> lists;
    for (const QList<QVariant> &call : spy)
        if (call.at(0).toString() != QLatin1String("info"))
            lists << call.at(1).toStringList();
    return lists;
}

QVector<CatalogPackage> packagesNamed(const QStringList &names)
{
    QVector<CatalogPackage> packages;
    for (const QString &name : names)
        packages << package(name,
                            QStringLiteral("cv-") + name.toLower() + QStringLiteral("-1.0-1"));
    return packages;
}

Row stored(const QString &name, const QString &rpm, const QString &sign = QStringLiteral("2"))
{
    return {{QStringLiteral("s_name"), name},
            {QStringLiteral("s_rpm"), rpm},
            {QStringLiteral("s_description"), QStringLiteral("old")},
            {QStringLiteral("sign"), sign}};
}

} // namespace

// Every receiver test needs a package in the RPM database: the receiver lists the installed
// packages after each frame, and an empty listing is retried without end.
#define SANDBOX_WITH_HELLO(name)                                                                   \
    Sandbox name(&TestRepository::shared());                                                       \
    QVERIFY2(name.isValid(), qPrintable(name.errorString()));                                      \
    QVERIFY(name.install(Hello10))

class TestSync : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        QVERIFY2(extraRepository().isValid(), qPrintable(extraRepository().errorString()));
    }

    // Frames -------------------------------------------------------------------------------

    void parse_data()
    {
        QTest::addColumn<QString>("text");
        // action|architecture|package names, or empty when the text must be refused
        QTest::addColumn<QString>("expected");
        const QString datas =
            QStringLiteral("<frame action='%1'><datas architecture='%2'>%3</datas></frame>");
        QTest::newRow("catalog") << datas.arg("data_resp", "x86_64", "<p name='甲'/><p name='乙'/>")
                                 << "data_resp|x86_64|甲,乙";
        QTest::newRow("element names ignored")
            << datas.arg("data_add_push", "x86_64", "<a name='x'/><!-- c --><b name='y'>t</b>")
            << "data_add_push|x86_64|x,y";
        QTest::newRow("file line") << datas.arg("data_delete_push", "i686", "<p name='q'/>") + "\n"
                                   << "data_delete_push|i686|q";
        QTest::newRow("entities") << datas.arg("x", "x86_64",
                                               "<p name='O&apos;B &amp; &lt;c&gt;&#10;'/>")
                                  << "x|x86_64|O'B & <c>\n";
        QTest::newRow("no datas") << "<frame action='data_resp'/>"
                                  << "data_resp||";
        QTest::newRow("root is not frame")
            << "<f action='data_resp'><datas architecture='x86_64'/></f>"
            << "||";
        QTest::newRow("two frames on a line") << "<frame action='a'/><frame action='b'/>"
                                              << "";
        QTest::newRow("blank line") << "\n"
                                    << "";
        QTest::newRow("unclosed") << "<frame action='data_resp'><datas>"
                                  << "";
    }

    void parse()
    {
        QFETCH(QString, text);
        QFETCH(QString, expected);
        CatalogFrame frame;
        QString error;
        QCOMPARE(frame.parse(text, &error), !expected.isEmpty());
        if (expected.isEmpty()) {
            QVERIFY(!error.isEmpty());
            return;
        }
        QStringList names;
        for (const CatalogPackage &package : frame.packages())
            names << package.name;
        QCOMPARE(frame.actionText() + '|' + frame.architecture() + '|' + names.join(','), expected);
    }

    void requests()
    {
        QCOMPARE(CatalogFrame::joinRequest("192.168.10.7"),
                 QStringLiteral("<frame action='join_requ'><datas client='192.168.10.7' "
                                "architecture='x86_64'></datas></frame>"));
        QCOMPARE(CatalogFrame::dataRequest("192.168.10.7"),
                 QStringLiteral("<frame action='data_requ'><datas client='192.168.10.7' "
                                "architecture='x86_64'></datas></frame>"));
    }

    // Installed packages --------------------------------------------------------------------

    void snapshotLines_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("expected"); // name|version|release; empty: skipped
        QTest::newRow("key without dot") << "gpg-pubkey-1234abcd-5678ef90\n" << QString();
        QTest::newRow("dist release") << "foo-1.0-1.el7.x86_64\n"
                                      << "foo|1.0|1.el7";
        QTest::newRow("dashed name") << "my-tool-2.1-3.x86_64\n"
                                     << "my-tool|2.1|3";
        QTest::newRow("two fields") << "a-1.noarch\n"
                                    << "|a|1";
        QTest::newRow("one field") << "single.x86_64\n" << QString();
    }

    void snapshotLines()
    {
        QFETCH(QString, line);
        QFETCH(QString, expected);
        RpmInfo info;
        QCOMPARE(InstalledPackages::parseSnapshotLine(line, &info), !expected.isEmpty());
        if (!expected.isEmpty())
            QCOMPARE(info.m_name + '|' + info.m_version + '|' + info.m_release, expected);
    }

    void initialLoadRebuildsInstalledTable()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(Hello10));
        QVERIFY(installExtra(sandbox, MyTool));
        QVERIFY(installExtra(sandbox, Foo));
        QCOMPARE(sandbox.rpm({"--import", toolFolder("data/test-key.asc")}).exitCode, 0);
        QVERIFY(sandbox.installedPackages().filter("gpg-pubkey-").size() == 1);
        QVERIFY(exec(Paths::localDatabase(),
                     "insert into software(name,version,release_ver) values('gone','9','9')"));

        for (int run = 0; run < 2; ++run) {
            InitDataThread thread;
            thread.start();
            QVERIFY(thread.wait(120000));
        }
        QCOMPARE(installed(), (QStringList{"cv-hello 1.0 1", "foo 1.0 1.el7", "my-tool 2.1 3"}));
        // The counter restarts with the table, so the keys do not grow with every load.
        const QVector<Row> keys =
            query(Paths::localDatabase(), "select max(id) as top from software");
        QCOMPARE(keys.first().value("top"), QStringLiteral("3"));
    }

    void signs_data()
    {
        QTest::addColumn<QString>("rpm");
        QTest::addColumn<QString>("sign");
        const QVector<QPair<QString, QString>> cases = {
            {"cv-hello-1.1-1", "1"},  {"cv-hello-1.0-1", "2"},    {"cv-hello-1.0-1.x86_64", "2"},
            {"cv-hello-1.0-2", "1"},  {"cv-hello-1.0-0", "2"},    {"cv-hello-0.9-9", "2"},
            {"cv-player-3.2-4", "0"}, {"hello-1.0-1", "0"},       {"foo-1.0-2", "1"},
            {"foo-1.0-1", "2"},       {"no_package_string", "7"}, {"", "7"},
        };
        computeSigns(cases);
        for (const auto &c : cases)
            QTest::newRow(c.first.isEmpty() ? "empty" : qPrintable(c.first)) << c.first << c.second;
    }

    void signs()
    {
        QFETCH(QString, rpm);
        QVERIFY(m_signs.contains(rpm));
        QTEST(m_signs.value(rpm), "sign");
    }

    void emptyListingRetriesUntilPackagesAppear()
    {
        SANDBOX_WITH_HELLO(sandbox);
        sandbox.prependPath(toolFolder("emptyrpm"));
        InitDataThread thread;
        thread.start();
        const bool ended = thread.wait(120000);
        if (!ended) {
            thread.terminate();
            thread.wait();
        }
        QVERIFY(ended);
        QCOMPARE(readLines(sandbox.path("/.sandbox/rebuilds")).size(), 2);
        QCOMPARE(installed(), QStringList{"cv-hello 1.0 1"});
    }

    // The frame receiver --------------------------------------------------------------------

    void dataResponseReplacesCatalog_data()
    {
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("second wins")
            << QStringList{"A", "B", "C"} << QStringList{"B", "D"} << QStringList{"B", "D"};
        QTest::newRow("three of five") << QStringList{"A", "B", "C", "D", "E"}
                                       << QStringList{"A", "C", "E"} << QStringList{"A", "C", "E"};
        QTest::newRow("empty deletes nothing")
            << QStringList{"A", "B", "C", "D", "E"} << QStringList()
            << QStringList{"A", "B", "C", "D", "E"};
        QTest::newRow("same twice") << QStringList{"A"} << QStringList{"A"} << QStringList{"A"};
    }

    void dataResponseReplacesCatalog()
    {
        QFETCH(QStringList, first);
        QFETCH(QStringList, second);
        SANDBOX_WITH_HELLO(sandbox);
        HeartThread receiver;
        QSignalSpy spy(&receiver, &HeartThread::recvServerData);
        receiver.pigxmlData(frame("data_resp", "x86_64", packagesNamed(first)));
        QCOMPARE(names(), first);
        receiver.pigxmlData(frame("data_resp", "x86_64", packagesNamed(second)));
        QTEST(names(), "expected");
        QCOMPARE(frameLists(spy).size(), 2);
        QCOMPARE(installed(), QStringList{"cv-hello 1.0 1"});
    }

    void frameForOtherArchitecture_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("architecture");
        QTest::newRow("catalog i686") << QStringLiteral("data_resp") << QStringLiteral("i686");
        QTest::newRow("add, none") << QStringLiteral("data_add_push") << QString();
        QTest::newRow("update, capitals")
            << QStringLiteral("data_update_push") << QStringLiteral("X86_64");
    }

    void frameForOtherArchitecture()
    {
        QFETCH(QString, action);
        QFETCH(QString, architecture);
        SANDBOX_WITH_HELLO(sandbox);
        // A stale state shows whether the install states were recomputed.
        QVERIFY(insertRow(stored("Hello", "cv-hello-1.0-1", "0")));
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        QSignalSpy ends(&receiver, &HeartThread::updateEnd);
        CatalogPackage changed = package("Hello", "cv-hello-1.1-1");
        receiver.pigxmlData(frame(action, architecture, {changed, package("New", "cv-new-1-1")}));

        QCOMPARE(names(), QStringList{"Hello"});
        QCOMPARE(row("Hello").value("s_rpm"), QStringLiteral("cv-hello-1.0-1"));
        QCOMPARE(row("Hello").value("sign"), QStringLiteral("2"));
        QCOMPARE(frameLists(data), QVector<QStringList>{QStringList()});
        QVERIFY(ends.size() >= 1 && ends.last().at(0).toInt() == 0);
        QVERIFY(sandbox.notifications().isEmpty());
    }

    void malformedFramesChangeNothing_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("blank line") << "\n";
        QTest::newRow("two frames")
            << frame("data_resp", "x86_64", packagesNamed({"A"})) + frame("x", "x86_64", {});
    }

    void malformedFramesChangeNothing()
    {
        QFETCH(QString, text);
        SANDBOX_WITH_HELLO(sandbox);
        QVERIFY(insertRow(stored("Hello", "cv-hello-1.0-1", "0")));
        QVERIFY(exec(Paths::localDatabase(),
                     "insert into software(name,version,release_ver) values('stale','1','1')"));
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        QSignalSpy ends(&receiver, &HeartThread::updateEnd);
        receiver.pigxmlData(text);
        QCOMPARE(names(), QStringList{"Hello"});
        QCOMPARE(row("Hello").value("sign"), QStringLiteral("0"));
        QCOMPARE(installed(), QStringList{"stale 1 1"});
        QCOMPARE(data.size(), 0);
        QCOMPARE(ends.size(), 0);
    }

    void updatePushListsChangedPackageOnce()
    {
        SANDBOX_WITH_HELLO(sandbox);
        QVERIFY(insertRow(stored("Hello", "cv-hello-1.0-1")));
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        const QString update =
            frame("data_update_push", "x86_64", {package("Hello", "cv-hello-1.1-1")});

        receiver.pigxmlData(update);
        QCOMPARE(frameLists(data), QVector<QStringList>{QStringList{"cv-hello-1.1-1"}});
        QCOMPARE(data.last().at(0).toString(), update);
        QCOMPARE(row("Hello").value("s_rpm"), QStringLiteral("cv-hello-1.1-1"));
        QCOMPARE(row("Hello").value("sign"), QStringLiteral("1"));
        QCOMPARE(sandbox.notifications(), QStringList{UpdateNotice});

        data.clear();
        receiver.pigxmlData(update);
        QCOMPARE(frameLists(data), QVector<QStringList>{QStringList()});
        QCOMPARE(names(), QStringList{"Hello"});
        QCOMPARE(row("Hello").value("s_rpm"), QStringLiteral("cv-hello-1.1-1"));
    }

    void addPushForStoredNameUpdates()
    {
        SANDBOX_WITH_HELLO(sandbox);
        QVERIFY(insertRow(stored("Hello", "cv-hello-1.0-1")));
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        CatalogPackage hello = package("Hello", "cv-hello-1.0-1");
        hello.desc = QStringLiteral("新的描述");
        receiver.pigxmlData(
            frame("data_add_push", "x86_64", {hello, package("Editor", "cv-editor-2.1-1")}));
        QCOMPARE(names(), (QStringList{"Editor", "Hello"}));
        QCOMPARE(row("Hello").value("s_description"), QStringLiteral("新的描述"));
        QCOMPARE(row("Hello").value("sign"), QStringLiteral("2"));
        QCOMPARE(row("Editor").value("sign"), QStringLiteral("0"));
        QCOMPARE(frameLists(data), QVector<QStringList>{QStringList()});
        QCOMPARE(sandbox.notifications(), QStringList{AddNotice});
    }

    void failingElementLeavesNoTrace()
    {
        SANDBOX_WITH_HELLO(sandbox);
        QVERIFY(insertRow(stored("Hello", "cv-hello-1.0-1")));
        QVERIFY(exec(Paths::catalogDatabase(),
                     "create trigger refuse before insert on softwares when new.s_name = 'bad' "
                     "begin select raise(abort, 'refused'); end"));
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        QSignalSpy ends(&receiver, &HeartThread::updateEnd);
        CatalogPackage changed = package("Hello", "cv-hello-1.1-1");
        changed.desc = QStringLiteral("new");
        receiver.pigxmlData(frame("data_resp", "x86_64", {changed, package("bad", "cv-bad-1-1")}));

        QCOMPARE(names(), QStringList{"Hello"});
        QCOMPARE(row("Hello").value("s_rpm"), QStringLiteral("cv-hello-1.0-1"));
        QCOMPARE(row("Hello").value("s_description"), QStringLiteral("old"));
        QCOMPARE(data.size(), 0);
        QCOMPARE(ends.size(), 0);
        QVERIFY(sandbox.notifications().isEmpty());
    }

    void actionsOnStoredRows_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QStringList>("sent");
        QTest::addColumn<QStringList>("rows");
        QTest::addColumn<QStringList>("notices");
        const QStringList none;
        QTest::newRow("add") << "data_add_push" << QStringList{"C"} << QStringList{"A", "B", "C"}
                             << QStringList{AddNotice};
        QTest::newRow("update") << "data_update_push" << QStringList{"A"} << QStringList{"A", "B"}
                                << QStringList{UpdateNotice};
        QTest::newRow("catalog") << "data_resp" << QStringList{"A"} << QStringList{"A"} << none;
        QTest::newRow("delete") << "data_delete_push" << QStringList{"A"} << QStringList{"B"}
                                << none;
        QTest::newRow("delete unknown")
            << "data_delete_push" << QStringList{"Z"} << QStringList{"A", "B"} << none;
        QTest::newRow("other action stores quietly")
            << "data_resp_cont" << QStringList{"C"} << QStringList{"A", "B", "C"} << none;
        QTest::newRow("unknown action stores nothing")
            << "data_move_push" << QStringList{"C"} << QStringList{"A", "B"} << none;
        QTest::newRow("request sent to a store stores nothing")
            << "data_requ" << QStringList{"C"} << QStringList{"A", "B"} << none;
    }

    void actionsOnStoredRows()
    {
        QFETCH(QString, action);
        QFETCH(QStringList, sent);
        SANDBOX_WITH_HELLO(sandbox);
        QVERIFY(insertRow(stored("A", "cv-a-1-1")) && insertRow(stored("B", "cv-b-1-1")));
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        receiver.pigxmlData(frame(action, "x86_64", packagesNamed(sent)));
        QTEST(names(), "rows");
        QTEST(sandbox.notifications(), "notices");
        QCOMPARE(frameLists(data).size(), 1);
    }

    void hostileFrameIsStoredAsSent()
    {
        SANDBOX_WITH_HELLO(sandbox);
        sandbox.prependPath(toolFolder("wgetlog"));
        const QString marker = sandbox.path("/pwned");
        const QString touch = QStringLiteral("touch ") + marker;
        CatalogPackage hostile;
        hostile.name = QStringLiteral("O'Brien'); drop table softwares; --");
        hostile.desc = QStringLiteral("$(%1) `%1` ; %1").arg(touch);
        hostile.exec = QStringLiteral("sh -c '%1'").arg(touch);
        hostile.rpm = QStringLiteral("cv-x'-1.0-1");
        hostile.icon = QStringLiteral("$(%1)").arg(touch);
        hostile.time = QStringLiteral("'; %1 #").arg(touch);
        hostile.rpmdeps = QStringLiteral("a\nb");
        hostile.version = QStringLiteral("1' || '2");
        hostile.size = QStringLiteral("3 MB\\");
        hostile.star = QStringLiteral("'");
        hostile.klass = QStringLiteral("5'");
        HeartThread receiver;
        QSignalSpy data(&receiver, &HeartThread::recvServerData);
        // The first frame inserts the row, the second updates it.
        for (const QString &suffix : {QString(), QStringLiteral(" ' again")}) {
            hostile.desc += suffix;
            receiver.pigxmlData(frame("data_add_push", "x86_64", {hostile}));
            QCOMPARE(names(), QStringList{hostile.name});
            const Row stored = row(hostile.name);
            // Every attribute lands in its own column, exactly as sent.
            const QStringList columns{"s_icon",        "s_exec",    "s_rpm",  "s_version", "s_size",
                                      "s_description", "s_rpmdeps", "s_star", "type",      "time"};
            const QStringList sent{hostile.icon,  hostile.exec, hostile.rpm,     hostile.version,
                                   hostile.size,  hostile.desc, hostile.rpmdeps, hostile.star,
                                   hostile.klass, hostile.time};
            for (int i = 0; i < columns.size(); ++i)
                QCOMPARE(stored.value(columns[i]), sent[i]);
        }
        QVERIFY(iconFetchesEnded(receiver));
        QVERIFY(!QFileInfo::exists(marker));
        QVERIFY(readLines(sandbox.path("/.sandbox/wget.log")).isEmpty());
        QCOMPARE(frameLists(data).size(), 2);
    }

    // Icons ---------------------------------------------------------------------------------

    void iconFetchedWhenMissingOrChanged_data()
    {
        QTest::addColumn<QString>("storedTime"); // "-": no stored row
        QTest::addColumn<bool>("present");
        QTest::addColumn<QString>("frameTime");
        QTest::addColumn<bool>("fetchAll"); // then every icon of the list fetched again
        QTest::addColumn<bool>("fetched");
        QTest::newRow("missing") << "-" << false << "t1" << false << true;
        QTest::newRow("unchanged time") << "t1" << true << "t1" << false << false;
        QTest::newRow("changed time") << "t1" << true << "t2" << false << true;
        QTest::newRow("present, no stored row") << "-" << true << "t1" << false << true;
        QTest::newRow("unchanged time, all fetched") << "t1" << true << "t1" << true << true;
    }

    void iconFetchedWhenMissingOrChanged()
    {
        QFETCH(QString, storedTime);
        QFETCH(bool, present);
        QFETCH(QString, frameTime);
        QFETCH(bool, fetchAll);
        QFETCH(bool, fetched);
        SANDBOX_WITH_HELLO(sandbox);
        QTemporaryDir served;
        QVERIFY(writeFile(served.path() + "/cv-hello.png", "served icon"));
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        const QString icon = Paths::iconDirectory() + "cv-hello.png";
        if (storedTime != QLatin1String("-")) {
            Row hello = stored("Hello", "cv-hello-1.0-1");
            hello.insert("s_icon", "cv-hello.png");
            hello.insert("time", storedTime);
            QVERIFY(insertRow(hello));
        }
        if (present)
            QVERIFY(writeFile(icon, "kept icon"));

        HeartThread receiver;
        receiver.pigxmlData(frame("data_update_push", "x86_64",
                                  {package("Hello", "cv-hello-1.0-1", "cv-hello.png", frameTime)}));
        if (fetchAll)
            receiver.downLoadIcons();
        QVERIFY(iconFetchesEnded(receiver));
        QCOMPARE(readFile(icon), fetched ? QByteArray("served icon") : QByteArray("kept icon"));
        QCOMPARE(row("Hello").value("time"), frameTime);
    }

    void unsafeIconNamesAreNeverFetched_data()
    {
        QTest::addColumn<QString>("icon");
        QTest::addColumn<int>("fetches");
        QTest::newRow("slash") << "a/b" << 0;
        QTest::newRow("space") << "a b" << 0;
        QTest::newRow("parent") << ".." << 0;
        QTest::newRow("self") << "." << 0;
        QTest::newRow("climbing") << "../escape" << 0;
        QTest::newRow("option") << "-rf" << 0;
        QTest::newRow("empty") << "" << 0;
        QTest::newRow("ordinary name") << "cv-hello.png" << 1;
    }

    void unsafeIconNamesAreNeverFetched()
    {
        QFETCH(QString, icon);
        SANDBOX_WITH_HELLO(sandbox);
        sandbox.prependPath(toolFolder("wgetlog"));
        QTemporaryDir served;
        QVERIFY(writeFile(served.path() + "/cv-hello.png", "served icon"));
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        const QStringList before = QDir(sandbox.path("/opt/corvane")).entryList(QDir::AllEntries);

        HeartThread receiver;
        receiver.pigxmlData(
            frame("data_add_push", "x86_64", {package("A", "cv-a-1-1", icon, "t")}));
        QVERIFY(iconFetchesEnded(receiver));
        QTEST(int(readLines(sandbox.path("/.sandbox/wget.log")).size()), "fetches");
        QCOMPARE(QDir(sandbox.path("/opt/corvane")).entryList(QDir::AllEntries), before);
        QCOMPARE(names(), QStringList{"A"});
    }

    void failedIconFetchIsRetried()
    {
        SANDBOX_WITH_HELLO(sandbox);
        QTemporaryDir served;
        HttpServer http(served.path());
        QVERIFY(http.isRunning());
        sandbox.setConfig("iconurl", http.url().chopped(1));
        const QString icon = Paths::iconDirectory() + "late.png";
        const QString text =
            frame("data_add_push", "x86_64", {package("A", "cv-a-1-1", "late.png", "t")});

        HeartThread receiver;
        receiver.pigxmlData(text);
        QVERIFY(iconFetchesEnded(receiver));
        QVERIFY(!QFileInfo::exists(icon));
        QVERIFY(writeFile(served.path() + "/late.png", "late icon"));
        receiver.pigxmlData(text);
        QVERIFY(iconFetchesEnded(receiver));
        QCOMPARE(readFile(icon), QByteArray("late icon"));
    }

private:
    void computeSigns(const QVector<QPair<QString, QString>> &cases)
    {
        m_signs.clear();
        Sandbox sandbox(&TestRepository::shared());
        if (!sandbox.isValid() || !sandbox.install(Hello10) || !installExtra(sandbox, Foo))
            return;
        for (int i = 0; i < cases.size(); ++i)
            insertRow(stored(QStringLiteral("row %1").arg(i), cases[i].first, QStringLiteral("7")));
        InitDataThread thread;
        thread.start();
        if (!thread.wait(120000))
            return;
        for (const Row &r : query(Paths::catalogDatabase(), "select s_rpm, sign from softwares"))
            m_signs.insert(r.value("s_rpm"), r.value("sign"));
    }

    QMap<QString, QString> m_signs;
};

QTEST_GUILESS_MAIN(TestSync)
#include "tst_sync.moc"
