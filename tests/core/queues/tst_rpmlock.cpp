#include "engine/rpmlock.h"
#include "queues/downloadthread.h"
#include "queues/installrpmthread.h"
#include "records/paths.h"
#include "sync/initdatathread.h"

#include "resultrecorder.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"
#include "toolbox.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>

#include <memory>

namespace
{

const int Long = 120000;

// rpm whose install waits at a gate the test opens (five minutes at most, should the test be
// gone), whose first listing comes back empty as from a damaged database, and which notes the
// end of the install and every rebuild.
const QString GatedRpm =
    QStringLiteral("case \"$1\" in\n"
                   "-U*) n=0; while [ ! -e \"$EVENTS.open\" ] && [ $n -lt 6000 ]; do sleep 0.05; "
                   "n=$((n+1)); done; echo install-end >> "
                   "\"$EVENTS\"; exit 2;;\n"
                   "-qa) [ -e \"$EVENTS.listed\" ] || { : > \"$EVENTS.listed\"; exit 0; };;\n"
                   "--rebuilddb) echo rebuild >> \"$EVENTS\";;\n"
                   "esac\n"
                   "exec \"$SHIM\" \"$@\"");

} // namespace

// The RPM database is repaired only while no worker is in its rpm phase.
class TestRpmLock : public QObject
{
    Q_OBJECT

private slots:
    void repairWaitsForInstall_data()
    {
        QTest::addColumn<bool>("download"); // else the start-up reload
        QTest::newRow("failing download") << true;
        QTest::newRow("start-up reload of an empty listing") << false;
    }

    void repairWaitsForInstall()
    {
        QFETCH(bool, download);
        TestRepository &repository = TestRepository::shared();
        QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
        Sandbox sandbox(&repository);
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QVERIFY(sandbox.install(repository.packages().first()));
        ToolBox tools(sandbox);
        tools.add("rpm", GatedRpm);
        tools.add("yum", "exit 1");
        const QString stale = Paths::rpmDatabaseDirectory() + "/__db.001";
        QVERIFY(QFile(stale).open(QIODevice::WriteOnly));

        ResultRecorder recorder;
        WorkerPtr install = watched<InstallRpmThread>(recorder);
        install->insertQueue(OperInfo{"安装", "1", "cv-hello-1.0-1", "cv-hello"});
        install->start();
        QTRY_VERIFY_WITH_TIMEOUT(!tools.calls("rpm").isEmpty(), Long);

        WorkerPtr downloader;
        std::unique_ptr<InitDataThread> reload;
        if (download) {
            downloader = watched<DownloadThread>(recorder);
            downloader->insertQueue(OperInfo{"下载", "2", "cv-editor-2.0-1", "cv-editor"});
            downloader->start();
        } else {
            reload.reset(new InitDataThread);
            reload->start();
        }
        // Whatever fails below, the install is let go, so that its worker can end.
        const QString gate = tools.eventsFile() + ".open";
        const auto openGate = qScopeGuard([&] {
            QFile(gate).open(QIODevice::WriteOnly);
            if (reload)
                reload->wait();
        });
        // The repair is due now and waits for the install's rpm phase to end.
        QTRY_COMPARE_WITH_TIMEOUT(RpmLock::waiting(), 1, 30000);
        QVERIFY(QFileInfo::exists(stale));
        QVERIFY(tools.events().isEmpty());

        QVERIFY(QFile(gate).open(QIODevice::WriteOnly));
        if (download)
            QTRY_COMPARE_WITH_TIMEOUT(recorder.results.size(), 2, Long);
        else
            QVERIFY(reload->wait(Long));
        QVERIFY(!QFileInfo::exists(stale));
        QCOMPARE(tools.events().value(0), QStringLiteral("install-end"));
        QVERIFY(tools.events().contains("rebuild"));
    }

    // Another process (the agent, here util-linux flock) finds the file lock taken exactly while
    // the outermost hold lasts.
    void fileLockAcrossProcesses()
    {
        Sandbox sandbox;
        const auto othersMayLock = [] {
            return QProcess::execute(
                       QStringLiteral("flock"),
                       {QStringLiteral("-n"), Paths::rpmLockFile(), QStringLiteral("true")}) == 0;
        };
        QVERIFY(othersMayLock());
        RpmLock::acquire();
        QVERIFY(!othersMayLock());
        {
            const RpmLock inner;
        }
        QVERIFY(!othersMayLock());
        RpmLock::release();
        QVERIFY(othersMayLock());
        QCOMPARE(QFileInfo(Paths::rpmLockFile()).permissions() & 0x0077,
                 QFileDevice::Permissions());
    }
};

QTEST_GUILESS_MAIN(TestRpmLock)
#include "tst_rpmlock.moc"
