#include "facadefixture.h"

#include "records/paths.h"
#include "sync/catalogframe.h"
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

namespace
{

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

const QString Shims = QStringLiteral(CORVANE_TEST_SHIMS_DIR);

} // namespace

// The facade's life from start to end, its operations and their progress.
class TestFacade : public FacadeFixture
{
    Q_OBJECT

private slots:
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

    QStringList m_events;
};

QObject *createFacadeTests()
{
    return new TestFacade;
}

#include "tst_facade.moc"
