#include "processrunner.h"
#include "sandbox.h"
#include "testrepository.h"

#include <QDir>
#include <QFileInfo>
#include <QTest>

class TestSandbox : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        m_hostPackages = hostPackages();
    }

    void layout()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        QCOMPARE(qgetenv("CORVANE_ROOT"), sandbox.root().toUtf8());
        for (const char *dir : {"/opt/corvane/icons", "/tmp/.cv_data", "/var/lib/rpm"})
            QVERIFY(QFileInfo(sandbox.path(QString::fromLatin1(dir))).isDir());
        QVERIFY(QFileInfo(sandbox.path("/opt/corvane/doc/client-config.ini")).isFile());
        QVERIFY(QFileInfo(sandbox.path("/opt/corvane/db/server_software.db")).size() > 0);
        QVERIFY(QFileInfo(sandbox.path("/opt/corvane/db/software.db")).size() > 0);
        QVERIFY(sandbox.installedPackages().isEmpty());
    }

    void packageLifecycle()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        const QString downloads = sandbox.packageDirectory() + "/cv-hello";
        QVERIFY(QDir().mkpath(downloads));

        // The shims come first in PATH, so these are the commands the store itself runs.
        ProcessResult result = ProcessRunner::shell(
            "yum install --downloadonly --downloaddir=" + downloads + " cv-hello-1.0-1");
        QVERIFY2(result.exitCode == 0, qPrintable(result.output));
        const QString file = downloads + "/cv-hello-1.0-1.x86_64.rpm";
        QVERIFY2(QFileInfo::exists(file), qPrintable(result.output));
        QVERIFY(sandbox.installedPackages().isEmpty());

        result = ProcessRunner::shell("rpm -Uvh " + file);
        QVERIFY2(result.exitCode == 0, qPrintable(result.output));
        QCOMPARE(sandbox.installedPackages(), QStringList{"cv-hello-1.0-1.x86_64"});
        QVERIFY(QFileInfo::exists(sandbox.path("/usr/share/cv-hello/payload")));

        result = ProcessRunner::shell("yum update cv-hello");
        QVERIFY2(result.exitCode == 0, qPrintable(result.output));
        QCOMPARE(sandbox.installedPackages(), QStringList{"cv-hello-1.1-1.x86_64"});

        result = ProcessRunner::shell("rpm -e cv-hello");
        QVERIFY2(result.exitCode == 0, qPrintable(result.output));
        QVERIFY(sandbox.installedPackages().isEmpty());
        QVERIFY(!QFileInfo::exists(sandbox.path("/usr/share/cv-hello/payload")));
    }

    void unknownPackageFails()
    {
        Sandbox sandbox(&TestRepository::shared());
        const ProcessResult result = ProcessRunner::shell(
            "yum install --downloadonly --downloaddir=" + sandbox.packageDirectory() +
            " no-such-package");
        QVERIFY(result.exitCode != 0);
    }

    void shimsRefuseWithoutRoot()
    {
        const QByteArray saved = qgetenv("CORVANE_ROOT");
        qunsetenv("CORVANE_ROOT");
        const ProcessResult result = ProcessRunner::run(CORVANE_TEST_SHIMS_DIR "/rpm", {"-qa"});
        qputenv("CORVANE_ROOT", saved);
        QVERIFY(result.exitCode != 0);
        QVERIFY(result.output.contains("refusing"));
    }

    void cleanupTestCase() { QCOMPARE(hostPackages(), m_hostPackages); }

private:
    static QString hostPackages() { return ProcessRunner::run("/usr/bin/rpm", {"-qa"}).output; }
    QString m_hostPackages;
};

QTEST_GUILESS_MAIN(TestSandbox)
#include "tst_sandbox.moc"
