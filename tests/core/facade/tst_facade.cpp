#include "facade/clientdemon.h"
#include "records/paths.h"
#include "storage/database.h"
#include "sync/catalogframe.h"
#include "tests/support/freeport.h"
#include "tests/support/sandbox.h"
#include "tests/support/sqlrows.h"
#include "tests/support/storerows.h"
#include "tests/support/testrepository.h"
#include "vqs.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <ctime>
#include <memory>
#include <unistd.h>

namespace
{

QByteArray catalogDb()
{
    return Paths::catalogDatabase().toUtf8();
}
QByteArray localDb()
{
    return Paths::localDatabase().toUtf8();
}

// Values in the column order of the catalog queries; a null text is stored as NULL.
bool addCatalogRow(const QStringList &values)
{
    const QStringList columns{"s_name",        "s_icon", "s_exec", "s_rpm", "s_version", "s_size",
                              "s_description", "s_star", "type",   "sign",  "s_rpmdeps"};
    StoreRows::Row row;
    for (int i = 0; i < columns.size(); ++i)
        row.insert(columns.at(i), values.at(i));
    return StoreRows::addCatalogRow(row);
}

using StoreRows::addInstalledRow;

bool addDownloadRow(const char *name, const char *icon, const char *state)
{
    return exec_sql(localDb().constData(), "insert into loadmanage values(?,?,?,?,?,?)", name, icon,
                    "1 MB", state, "下载", "1") == 0;
}

// Six packages in four categories: states 0, 1, 2, 2 (downloaded: 3), 0 and none.
bool fillCatalog()
{
    const QString none;
    const QVector<QStringList> rows = {
        {"文字处理", "cv-writer", "cv-writer %f", "cv-writer-1.0-1", "1.0-1", "1 MB",
         "office word processor", "4", "1", "0", "libc"},
        {"表格", "cv-sheet", "cv-sheet", "cv-sheet-2.0-1", "2.0-1", "2 MB", "spreadsheet", "5", "1",
         "1", ""},
        {"播放器", "cv-player", "cv-player --play", "cv-player-3.2-4", "3.2-4", "3 MB",
         "plays video and office presentations", "3", "6", "2", "libvideo libaudio"},
        {"画图", "cv-paint", "cv-paint", "cv-paint-1.0-1", "1.0-1", "1 MB", "draw pictures", "2",
         "7", "2", ""},
        {"O'Reilly 阅读器", "cv-reader", "cv-reader", "cv-reader-1.0-1", "1.0-1", "1 MB",
         "reader, 100% free", "4", "4", "0", ""},
        {"记事本", "cv-notes", "cv-notes", "cv-notes-0.1-1", "0.1-1", "1 MB", "notes", "1", "1",
         none, ""},
    };
    for (const QStringList &row : rows)
        if (!addCatalogRow(row))
            return false;
    return addInstalledRow("cv-sheet", "1.5", "2.x86_64") &&
           addInstalledRow("cv-player", "3.2", "4.x86_64") &&
           addInstalledRow("cv-paint", "1.0", "1.x86_64") &&
           addDownloadRow("画图", "cv-paint", "下载成功") &&
           addDownloadRow("文字处理", "cv-writer", "正在下载") &&
           addDownloadRow("播放器", "CV-PLAYER", "下载成功");
}

QStringList namesOf(const QVector<RpmData> &records)
{
    QStringList names;
    for (const RpmData &record : records)
        names << record.m_name;
    return names;
}

QString statesOf(const QVector<RpmData> &records)
{
    QStringList states;
    for (const RpmData &record : records)
        states << QString::number(record.m_state);
    return states.join(',');
}

bool writeScript(const QString &path, const QString &text)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text.toUtf8()) < 0)
        return false;
    file.close();
    return file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                               QFileDevice::ExeOwner);
}

QStringList linesOf(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
}

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

TestPackage package(const QString &name, const QString &version)
{
    for (const TestPackage &p : TestRepository::shared().packages())
        if (p.name == name && p.version == version)
            return p;
    return {};
}

const QString Shims = QStringLiteral(CORVANE_TEST_SHIMS_DIR);

} // namespace

class TestFacade : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        // The receiver stays on 127.0.0.1, so other loopback addresses are free for peers.
        useLoopbackTransport();
        qputenv("FACADE_TEST_PID", QByteArray::number(getpid()));
    }

    void init()
    {
        m_sandbox.reset(new Sandbox(&TestRepository::shared()));
        QVERIFY2(m_sandbox->isValid(), qPrintable(m_sandbox->errorString()));
        // The load repeats rpm -qa until it lists something.
        QVERIFY(m_sandbox->install(package("cv-editor", "2.0")));
        m_tools.reset(new QTemporaryDir);
        QVERIFY(m_tools->isValid());
        m_packages = m_sandbox->packageDirectory();
    }

    void cleanup()
    {
        m_demon.reset();
        m_sandbox.reset();
        m_tools.reset();
    }

    // Lifecycle.

    void createsPackageDirectory_data()
    {
        QTest::addColumn<QString>("pkgpath"); // below the sandbox root
        QTest::addColumn<bool>("created");
        QTest::newRow("missing, parent exists") << "/var/cache/corvane/new" << true;
        QTest::newRow("missing parent") << "/var/cache/none/new" << false;
        QTest::newRow("existing") << "/var/cache/corvane/packages" << true;
    }
    void createsPackageDirectory()
    {
        QFETCH(QString, pkgpath);
        QFETCH(bool, created);
        m_sandbox->setConfig("pkgpath", m_sandbox->path(pkgpath));
        QVERIFY(startFacade());
        QCOMPARE(QFileInfo(m_sandbox->path(pkgpath)).isDir(), created);
    }

    void recvServerDataSlot_data()
    {
        QTest::addColumn<QStringList>("packages");
        QTest::addColumn<QStringList>("events");
        QTest::newRow("empty list") << QStringList{} << QStringList{"recv:1"};
        QTest::newRow("one package")
            << QStringList{"cv-hello-1.1-1"} << QStringList{"version:cv-hello-1.1-1", "recv:1"};
        QTest::newRow("two packages")
            << QStringList{"cv-hello-1.1-1", "cv-editor-2.1-1"}
            << QStringList{"version:cv-hello-1.1-1,cv-editor-2.1-1", "recv:1"};
    }
    void recvServerDataSlot()
    {
        QFETCH(QStringList, packages);
        QFETCH(QStringList, events);
        QVERIFY(startFacade());
        const QStringList *log = recordSignals();
        m_demon->recvServerDataSlot("<frame/>", packages);
        QCOMPARE(*log, events);
    }

    void pushReachesApplication()
    {
        QVERIFY(startFacade());
        QVERIFY(addCatalogRow({"你好", "cv-hello", "cv-hello", "cv-hello-1.0-1", "1.0-1", "1", "d",
                               "1", "1", "0", ""}));
        const QStringList *log = recordSignals();
        CatalogPackage changed;
        changed.name = "你好";
        changed.icon = changed.exec = "cv-hello";
        changed.rpm = "cv-hello-1.1-1";
        changed.version = "1.1-1";
        changed.klass = "1";
        const QByteArray frame = CatalogFrame::compose("data_update_push", {changed}).toUtf8();
        QCOMPARE(vqs_message_send("127.0.0.1", frame.constData()), 0);
        // The receiver reports the install states first, then the changed package.
        QTRY_VERIFY_WITH_TIMEOUT(log->contains("version:cv-hello-1.1-1"), 60000);
        QTRY_COMPARE_WITH_TIMEOUT(log->mid(log->indexOf("version:cv-hello-1.1-1")),
                                  (QStringList{"version:cv-hello-1.1-1", "recv:1"}), 10000);
        QVERIFY(log->startsWith("recv:1"));
    }

    void pollerOnlyForPositiveRefresh_data()
    {
        QTest::addColumn<QString>("refresh"); // null: key missing
        QTest::addColumn<bool>("polling");
        QTest::newRow("0") << "0" << false;
        QTest::newRow("not a number") << "often" << false;
        QTest::newRow("missing") << QString() << false;
        QTest::newRow("30") << "30" << true;
    }
    void pollerOnlyForPositiveRefresh()
    {
        QFETCH(QString, refresh);
        QFETCH(bool, polling);
        if (refresh.isNull())
            m_sandbox->removeConfig("refresh");
        else
            m_sandbox->setConfig("refresh", refresh);
        // The poller's first act is a one-minute sleep: record it and hold it there for good.
        const QString log = m_sandbox->path("/.sandbox/sleep.log");
        QVERIFY(writeScript(m_tools->path() + "/sleep",
                            "#!/bin/sh\necho \"$*\" >> '" + log +
                                "'\nwhile kill -0 \"$FACADE_TEST_PID\" 2>/dev/null; do "
                                "/bin/sleep 1; done\n"));
        m_sandbox->prependPath(m_tools->path());
        QVERIFY(startFacade());
        if (polling) {
            QTRY_COMPARE_WITH_TIMEOUT(linesOf(log), QStringList{"60"}, 30000);
        } else {
            // The poller would have started with the load thread, which has ended by now.
            QTest::qWait(500);
            QCOMPARE(linesOf(log), QStringList{});
        }
    }

    void updateDataTwice()
    {
        m_sandbox->setConfig("vqssend", "false");
        const QString yumLog = m_sandbox->path("/.sandbox/yum.log");
        const QString wgetLog = m_sandbox->path("/.sandbox/wget.log");
        QVERIFY(writeScript(m_tools->path() + "/yum", "#!/bin/sh\necho \"$*\" >> '" + yumLog +
                                                          "'\nexec '" + Shims + "/yum' \"$@\"\n"));
        QVERIFY(writeScript(m_tools->path() + "/wget", "#!/bin/sh\necho \"$*\" >> '" + wgetLog +
                                                           "'\nexec /usr/bin/wget \"$@\"\n"));
        m_sandbox->prependPath(m_tools->path());
        QVERIFY(startFacade());
        QSignalSpy updateEnd(m_demon.get(), &ClientDemon::updateEnd);
        // The catalog request of the start-up first.
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(wgetLog).filter("data_x86_64").size(), 1, 30000);

        m_demon->updateData();
        m_demon->updateData();
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(wgetLog).filter("data_x86_64").size(), 3, 30000);
        // One cleaning by the load thread, one per call.
        QTRY_COMPARE_WITH_TIMEOUT(linesOf(yumLog).filter("clean all").size(), 3, 30000);
        QCOMPARE(updateEnd.count(), 0);
    }

    void destructorEndsReceiverOnce()
    {
        QTemporaryDir scratch;
        const QString log = scratch.path() + "/received";
        const QString marker = m_sandbox->path("/.sandbox/listed");
        // A slow listing keeps the load thread busy while the facade is destroyed.
        QVERIFY(writeScript(m_tools->path() + "/rpm",
                            "#!/bin/sh\nif [ \"$1\" = -qa ]; then /bin/sleep 1; '" + Shims +
                                "/rpm' \"$@\"; s=$?; : > '" + marker + "'; exit $s; fi\nexec '" +
                                Shims + "/rpm' \"$@\"\n"));
        m_sandbox->prependPath(m_tools->path());

        QProcess peer;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("VQS_BIND", "127.0.0.3");
        peer.setProcessEnvironment(environment);
        peer.start(TRANSPORT_PEER, {log, marker});
        QVERIFY(peer.waitForReadyRead(10000));
        QCOMPARE(peer.readLine().trimmed(), QByteArray("ready"));
        m_sandbox->setConfig("localip", "127.0.0.3");

        m_demon.reset(new ClientDemon);
        m_demon.reset();
        // Messages to one address arrive in order: once the probe is there, so is the rest.
        QCOMPARE(vqs_message_send("127.0.0.3", "probe"), 0);
        QTRY_VERIFY_WITH_TIMEOUT(linesOf(log).filter("probe").size() == 1, 30000);
        peer.kill();
        peer.waitForFinished();
        QCOMPARE(linesOf(log).filter("process-run-end"), QStringList{"after process-run-end"});
    }

    // Catalog queries.

    void selectSoftware_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("category");
        QTest::addColumn<QString>("keyword");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("states");
        const QStringList all = {"文字处理", "表格", "播放器", "画图", "O'Reilly 阅读器", "记事本"};
        QTest::newRow("everything") << 0 << ""
                                    << "" << all << "0,1,2,3,0,0";
        QTest::newRow("unknown category") << 0 << "未知"
                                          << "" << all << "0,1,2,3,0,0";
        QTest::newRow("category") << 0 << "办公应用"
                                  << "" << QStringList{"文字处理", "表格", "记事本"} << "0,1,0";
        QTest::newRow("category search stays in its category")
            << 0 << "办公应用"
            << "office" << QStringList{"文字处理"} << "0";
        QTest::newRow("search without category")
            << 0 << "未知"
            << "office" << QStringList{"文字处理", "播放器"} << "0,2";
        QTest::newRow("letters match in any case")
            << 0 << ""
            << "OFFICE" << QStringList{"文字处理", "播放器"} << "0,2";
        QTest::newRow("search in name") << 0 << ""
                                        << "表" << QStringList{"表格"} << "1";
        QTest::newRow("quote in keyword") << 0 << ""
                                          << "O'Reilly" << QStringList{"O'Reilly 阅读器"} << "0";
        QTest::newRow("underscore is a wildcard") << 0 << ""
                                                  << "pl_ys" << QStringList{"播放器"} << "2";
        QTest::newRow("percent is a wildcard") << 0 << ""
                                               << "r%free" << QStringList{"O'Reilly 阅读器"} << "0";
        QTest::newRow("category and name") << 0 << "教育学习"
                                           << "阅读" << QStringList{"O'Reilly 阅读器"} << "0";
        QTest::newRow("upgradable") << 1 << ""
                                    << "" << QStringList{"表格"} << "1";
        QTest::newRow("upgradable in a category") << 1 << "视频应用"
                                                  << "" << QStringList{} << "";
        QTest::newRow("installed") << 2 << ""
                                   << "" << QStringList{"表格", "播放器"} << "1,2";
        QTest::newRow("unknown mode") << 3 << ""
                                      << "" << QStringList{} << "";
    }
    void selectSoftware()
    {
        QFETCH(int, mode);
        QFETCH(QString, category);
        QFETCH(QString, keyword);
        QFETCH(QStringList, names);
        QFETCH(QString, states);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        const QVector<RpmData> records = m_demon->selectSoftware(mode, category, keyword);
        QCOMPARE(namesOf(records), names);
        QCOMPARE(statesOf(records), states);
    }

    void recordFields()
    {
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        const QVector<RpmData> records = m_demon->selectSoftware(0, "视频应用", "");
        QCOMPARE(records.size(), 1);
        const RpmData &r = records.first();
        const QStringList fields = {r.m_rpm,     r.m_icon,     r.m_exec,        r.m_name,
                                    r.m_version, r.m_size,     r.m_description, r.m_star,
                                    r.m_type,    r.m_reserved, r.m_rpmdeps};
        QCOMPARE(fields, (QStringList{"cv-player-3.2-4", "cv-player", "cv-player --play", "播放器",
                                      "3.2-4", "3 MB", "plays video and office presentations", "3",
                                      "6", "", "libvideo libaudio"}));
        QCOMPARE(r.m_state, 2);
    }

    void installedVersions_data()
    {
        QTest::addColumn<bool>("inLocalTable");
        QTest::addColumn<QStringList>("versions");
        QTest::newRow("upgradable shows the installed version")
            << true << QStringList{"1.5-2.x86_64", "3.2-4"};
        QTest::newRow("unknown locally keeps the catalog version")
            << false << QStringList{"2.0-1", "3.2-4"};
    }
    void installedVersions()
    {
        QFETCH(bool, inLocalTable);
        QFETCH(QStringList, versions);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        if (!inLocalTable)
            QCOMPARE(
                exec_sql(localDb().constData(), "delete from software where name=?", "cv-sheet"),
                0);
        QStringList shown;
        for (const RpmData &record : m_demon->selectSoftware(2, "", ""))
            shown << record.m_version;
        QCOMPARE(shown, versions);
        // Mode 1 keeps the catalog version.
        QCOMPARE(m_demon->selectSoftware(1, "", "").value(0).m_version, QString("2.0-1"));
    }

    void downloadedState_data()
    {
        QTest::addColumn<QString>("sign");
        QTest::addColumn<bool>("localDatabase");
        QTest::addColumn<int>("state");
        QTest::addColumn<bool>("listedAsInstalled");
        QTest::newRow("current") << "2" << true << 3 << false;
        QTest::newRow("upgradable") << "1" << true << 3 << false;
        QTest::newRow("no local database") << "2" << false << 2 << true;
    }
    void downloadedState()
    {
        QFETCH(QString, sign);
        QFETCH(bool, localDatabase);
        QFETCH(int, state);
        QFETCH(bool, listedAsInstalled);
        QVERIFY(startFacade());
        QVERIFY(addCatalogRow(
            {"画图", "cv-paint", "", "cv-paint-1.0-1", "1.0-1", "", "", "", "7", sign, ""}));
        QVERIFY(addDownloadRow("画图", "cv-paint", "下载成功"));
        if (!localDatabase)
            QVERIFY(QFile::remove(Paths::localDatabase()));
        QCOMPARE(statesOf(m_demon->selectSoftware(0, "", "")), QString::number(state));
        QCOMPARE(m_demon->selectSoftware(1, "", "").size(), 0);
        QCOMPARE(m_demon->selectSoftware(2, "", "").size(), listedAsInstalled ? 1 : 0);
    }

    void failingQueriesAreEmpty()
    {
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        QCOMPARE(m_demon->selectAllSoftware(0, "select nothing from nowhere").size(), 0);
        QVERIFY(m_demon->selectSoftware(0, "", "").size() > 0);
        QVERIFY(QFile::remove(Paths::catalogDatabase()));
        QCOMPARE(m_demon->selectSoftware(0, "", "").size(), 0);
        QCOMPARE(m_demon->selectNameSoftware(0, "表格").m_name, QString());
    }

    void selectNameSoftware_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("rpm");
        QTest::addColumn<QString>("version");
        QTest::addColumn<int>("state");
        QTest::newRow("no such name") << 0 << "不存在"
                                      << ""
                                      << "" << 0;
        QTest::newRow("installed and current") << 0 << "播放器"
                                               << "cv-player-3.2-4"
                                               << "3.2-4" << 2;
        QTest::newRow("current, installed listing") << 2 << "播放器"
                                                    << "cv-player-3.2-4"
                                                    << "3.2-4" << 2;
        QTest::newRow("upgradable and installed") << 0 << "表格"
                                                  << "cv-sheet-2.0-1"
                                                  << "2.0-1" << -1;
        QTest::newRow("not installed") << 0 << "文字处理"
                                       << "cv-writer-1.0-1"
                                       << "1.0-1" << 0;
        QTest::newRow("downloaded is not looked up") << 0 << "画图"
                                                     << "cv-paint-1.0-1"
                                                     << "1.0-1" << 2;
        QTest::newRow("quote in name") << 0 << "O'Reilly 阅读器"
                                       << "cv-reader-1.0-1"
                                       << "1.0-1" << 0;
        QTest::newRow("later row wins") << 0 << "记事本"
                                        << "cv-notes-0.2-1"
                                        << "0.2-1" << 0;
    }
    void selectNameSoftware()
    {
        QFETCH(int, mode);
        QFETCH(QString, name);
        QFETCH(QString, rpm);
        QFETCH(QString, version);
        QFETCH(int, state);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        QVERIFY(addCatalogRow(
            {"记事本", "cv-notes", "", "cv-notes-0.2-1", "0.2-1", "", "", "", "1", "0", ""}));
        // A list query first, so that nothing of it may leak into the lookup.
        QVERIFY(!m_demon->selectSoftware(2, "", "").isEmpty());
        const RpmData record = m_demon->selectNameSoftware(mode, name);
        QCOMPARE(record.m_rpm, rpm);
        QCOMPARE(record.m_version, version);
        QCOMPARE(record.m_state, state);
        QCOMPARE(record.m_name, rpm.isEmpty() ? QString() : name);
        // Looked up among other names at once, the name gives the same record.
        const QHash<QString, RpmData> batch =
            m_demon->selectNamesSoftware(mode, {name, QStringLiteral("播放器"), "表格"});
        QCOMPARE(batch.contains(name), !rpm.isEmpty());
        QCOMPARE(batch.value(name).m_rpm, rpm);
        QCOMPARE(batch.value(name).m_version, version);
        QCOMPARE(batch.value(name).m_state, state);
    }

    void selectTypeSoftware_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<QString>("states");
        QTest::newRow("all") << 0 << QStringList{"文字处理", "表格", "记事本"} << "0,-1,0";
        QTest::newRow("not installed") << 1 << QStringList{"文字处理", "记事本"} << "0,0";
        QTest::newRow("mode 2") << 2 << QStringList{} << "";
    }
    void selectTypeSoftware()
    {
        QFETCH(int, mode);
        QFETCH(QStringList, names);
        QFETCH(QString, states);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        const QVector<RpmData> records = m_demon->selectTypeSoftware(mode, "1");
        QCOMPARE(namesOf(records), names);
        QCOMPARE(statesOf(records), states);
        for (const RpmData &record : records)
            QCOMPARE(record.m_rpmdeps, QString());
    }

    void installedLookups_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("version");
        QTest::newRow("installed") << "cv-sheet" << -1 << "1.5-2.x86_64";
        QTest::newRow("not installed") << "cv-writer" << 0 << "";
        QTest::newRow("case matters") << "CV-SHEET" << 0 << "";
        QTest::newRow("two rows, the last wins") << "cv-twice" << -1 << "2.0-1";
    }
    void installedLookups()
    {
        QFETCH(QString, name);
        QFETCH(int, state);
        QFETCH(QString, version);
        QVERIFY(startFacade());
        QVERIFY(fillCatalog());
        QVERIFY(addInstalledRow("cv-twice", "1.0", "1"));
        QVERIFY(addInstalledRow("cv-twice", "2.0", "1"));
        QCOMPARE(m_demon->getState(name, "ignored"), state);
        QCOMPARE(m_demon->getSoftwareVersion(name), version);
    }

    // Operations and progress.

    void operations_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("setup");
        QTest::addColumn<int>("expected");
        QTest::addColumn<QStringList>("installed"); // besides cv-editor-2.0-1
        QTest::addColumn<bool>("directory");
        QTest::newRow("download") << "download"
                                  << "cv-hello-1.1-1"
                                  << "" << 0 << QStringList{} << true;
        QTest::newRow("download, not in repository") << "download"
                                                     << "cv-missing-1.0-1"
                                                     << "" << -1 << QStringList{} << false;
        QTest::newRow("install") << "install"
                                 << "cv-hello-1.1-1"
                                 << "downloaded" << 0 << QStringList{"cv-hello-1.1-1.x86_64"}
                                 << false;
        QTest::newRow("install, empty directory") << "install"
                                                  << "cv-hello-1.1-1"
                                                  << "empty" << -1 << QStringList{} << true;
        QTest::newRow("quick install") << "quick"
                                       << "cv-player-3.2-4"
                                       << "" << 0 << QStringList{"cv-player-3.2-4.x86_64"} << false;
        QTest::newRow("quick install, not in repository") << "quick"
                                                          << "cv-missing-1.0-1"
                                                          << "" << -1 << QStringList{} << false;
        QTest::newRow("quick install, rpm fails") << "quick"
                                                  << "cv-player-3.2-4"
                                                  << "broken" << -2 << QStringList{} << true;
        QTest::newRow("update") << "update"
                                << "cv-hello-1.1-1"
                                << "old" << 0 << QStringList{"cv-hello-1.1-1.x86_64"} << false;
        QTest::newRow("update, not in repository") << "update"
                                                   << "cv-missing-1.1-1"
                                                   << "broken" << -1 << QStringList{} << false;
        QTest::newRow("remove") << "remove"
                                << "cv-hello-1.0-1"
                                << "old" << 0 << QStringList{} << false;
        QTest::newRow("remove, not installed") << "remove"
                                               << "cv-hello-1.0-1"
                                               << "" << -1 << QStringList{} << false;
        for (const char *operation : {"download", "install", "quick", "update", "remove"})
            QTest::addRow("%s, hostile key", operation) << operation << ".."
                                                        << "" << -1 << QStringList{} << true;
    }
    void operations()
    {
        QFETCH(QString, operation);
        QFETCH(QString, key);
        QFETCH(QString, setup);
        QFETCH(int, expected);
        QFETCH(QStringList, installed);
        QFETCH(bool, directory);
        QVERIFY(startFacade());
        const QString dir = m_packages + '/' + key;
        if (setup == "empty" || setup == "broken")
            QVERIFY(QDir().mkpath(dir));
        if (setup == "broken") {
            QFile junk(dir + "/broken.rpm");
            QVERIFY(junk.open(QIODevice::WriteOnly) && junk.write("not a package") > 0);
        }
        if (setup == "downloaded")
            QCOMPARE(m_demon->downloadSoftware(key), 0);
        if (setup == "old") {
            QVERIFY(m_sandbox->install(package("cv-hello", "1.0")));
            installed.prepend("cv-hello-1.0-1.x86_64");
            if (expected == 0)
                installed.removeFirst();
        }
        const QStringList outside = QDir(QFileInfo(m_packages).path()).entryList();

        int result = 0;
        if (operation == "download")
            result = m_demon->downloadSoftware(key);
        else if (operation == "install")
            result = m_demon->installSoftWare(key);
        else if (operation == "quick")
            result = m_demon->quickinstallSoftWare(key);
        else if (operation == "update")
            result = m_demon->updateSoftWare(key);
        else
            result = m_demon->removeSoftWare(key);
        QCOMPARE(result, expected);

        installed << "cv-editor-2.0-1.x86_64";
        installed.sort();
        QCOMPARE(m_sandbox->installedPackages(), installed);
        QCOMPARE(QFileInfo(dir).isDir(), directory);
        QCOMPARE(QDir(QFileInfo(m_packages).path()).entryList(), outside);
    }

    void blockingCallDoesNotSpin()
    {
        QVERIFY(startFacade());
        QElapsedTimer wall;
        const double cpuBefore = threadCpuMs();
        wall.start();
        QCOMPARE(m_demon->downloadSoftware("cv-big-1.0-1"), 0);
        const double cpu = threadCpuMs() - cpuBefore;
        // A caller that waits costs next to nothing; one that polls burns the whole download.
        QVERIFY2(cpu * 4 < wall.elapsed(),
                 qPrintable(QString("%1 ms of CPU in %2 ms").arg(cpu).arg(wall.elapsed())));
    }

    void getProgressValue_data()
    {
        QTest::addColumn<QVector<int>>("megabytes"); // files in the directory; none: no directory
        QTest::addColumn<QString>("reserve");
        QTest::addColumn<int>("total"); // megabytes
        QTest::addColumn<int>("expected");
        QTest::newRow("half with reserve 10") << QVector<int>{30, 20} << "10" << 100 << 45;
        QTest::newRow("complete, no reserve") << QVector<int>{100} << "0" << 100 << 100;
        QTest::newRow("reserve not a number") << QVector<int>{25} << "many" << 100 << 25;
        QTest::newRow("no directory") << QVector<int>{} << "10" << 100 << 0;
        QTest::newRow("total of zero") << QVector<int>{50} << "10" << 0 << 0;
    }
    void getProgressValue()
    {
        QFETCH(QVector<int>, megabytes);
        QFETCH(QString, reserve);
        QFETCH(int, total);
        QFETCH(int, expected);
        QVERIFY(startFacade());
        const QString key = "cv-big-1.0-1";
        const QString dir = m_packages + '/' + key;
        for (int i = 0; i < megabytes.size(); ++i) {
            QVERIFY(QDir().mkpath(dir));
            QFile file(dir + (i == 0 ? "/.partial" : "/part") + QString::number(i));
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(qint64(megabytes[i]) * 1024 * 1024)); // sparse
        }
        if (!megabytes.isEmpty()) {
            // Neither links nor subdirectories count.
            QVERIFY(QFile::link(dir + "/.partial0", dir + "/link"));
            QVERIFY(QDir().mkpath(dir + "/sub"));
            QFile inner(dir + "/sub/file");
            QVERIFY(inner.open(QIODevice::WriteOnly) && inner.resize(10 * 1024 * 1024));
        }
        QCOMPARE(m_demon->getProgressValue(key, reserve, total * 1024 * 1024), expected);
    }

    void progressAfterDownloadFlag()
    {
        QVERIFY(startFacade());
        const QString dir = m_packages + "/cv-big-1.0-1";
        QVERIFY(QDir().mkpath(dir));
        QFile file(dir + "/part");
        QVERIFY(file.open(QIODevice::WriteOnly) && file.resize(50 * 1024 * 1024));
        const int total = 100 * 1024 * 1024;
        m_demon->getDataSlot(1);
        QCOMPARE(m_demon->getProgressValue("cv-big-1.0-1", "10", total), 45);
        m_demon->getDataSlot(0);
        QCOMPARE(m_demon->getProgressValue("cv-big-1.0-1", "10", total), 100);
        QCOMPARE(m_demon->getProgressValue("cv-big-1.0-1", "10", total), 45);
    }

    void isExecSuccess_data()
    {
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("expected");
        QTest::newRow("exit 0") << 0 << 0;
        QTest::newRow("exit 1, no repair") << 256 << -1;
        QTest::newRow("exit 2") << 512 << -1;
        QTest::newRow("signal 9") << 9 << -1;
        QTest::newRow("no shell") << -1 << -1;
    }
    void isExecSuccess()
    {
        QFETCH(int, status);
        QFETCH(int, expected);
        QVERIFY(startFacade());
        const QString stale = Paths::rpmDatabaseDirectory() + "/__db.001";
        QFile file(stale);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(m_demon->isExecSuccess(status), expected);
        QVERIFY(QFileInfo::exists(stale));
    }

private:
    // Constructs the facade and waits until its load thread has recomputed the install
    // states, so that rows written afterwards are not overwritten.
    bool startFacade()
    {
        if (!addCatalogRow({"sentinel", "cv-sentinel", "", "cv-sentinel-1-1", "1", "", "", "", "13",
                            QString(), ""}))
            return false;
        m_demon.reset(new ClientDemon);
        const bool loaded = QTest::qWaitFor(
            [] {
                return rowsOf(catalogDb(), "select sign from softwares where s_name='sentinel'") ==
                       QStringList{"0"};
            },
            60000);
        return loaded &&
               exec_sql(catalogDb().constData(), "delete from softwares where s_name='sentinel'") ==
                   0 &&
               exec_sql(localDb().constData(), "delete from software") == 0;
    }

    // The facade's two notifications in the order they arrive.
    const QStringList *recordSignals()
    {
        m_events.clear();
        connect(
            m_demon.get(), &ClientDemon::updateAppVersion, this,
            [this](const QStringList &packages) { m_events << "version:" + packages.join(','); });
        connect(m_demon.get(), &ClientDemon::recvUpdateAppSignal, this,
                [this](int value) { m_events << "recv:" + QString::number(value); });
        return &m_events;
    }

    std::unique_ptr<Sandbox> m_sandbox;
    std::unique_ptr<ClientDemon> m_demon;
    std::unique_ptr<QTemporaryDir> m_tools;
    QString m_packages;
    QStringList m_events;
};

QTEST_GUILESS_MAIN(TestFacade)
#include "tst_facade.moc"
