#include "engine/privileges.h"
#include "fakedownload.h"
#include "tasks/datathread.h"
#include "tasks/killthread.h"
#include "tests/support/accountaccess.h"
#include "tests/support/cancelledrun.h"
#include "tests/support/sandbox.h"
#include "tests/support/testfiles.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString readTrimmed(const QString &path)
{
    return QString::fromUtf8(readFile(path)).trimmed();
}

// Sets an environment variable for one scope.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, const QByteArray &value)
        : m_name(name), m_had(qEnvironmentVariableIsSet(name)), m_saved(qgetenv(name))
    {
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    ~ScopedEnv()
    {
        if (m_had)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_had;
    QByteArray m_saved;
};

} // namespace

class TestProcessThreads : public QObject
{
    Q_OBJECT

private slots:
    void dataThreadRunsAsLoginUserWhileCommandRuns();
    void loginAccount_data();
    void loginAccount();
    void dataThreadNeverLaunchesAsRoot();
    void killThreadKillsBothProcesses_data();
    void killThreadKillsBothProcesses();
    void killThreadSparesOtherPackages();
    void killThreadLeavesALaterDownload();
};

void TestProcessThreads::dataThreadRunsAsLoginUserWhileCommandRuns()
{
    const passwd *expected = getpwnam("nobody");
    if (!expected)
        QSKIP("no account nobody");
    if (getlogin())
        QSKIP("a login session names the user here; the environment does not decide");
    const uid_t expectedUid = expected->pw_uid;
    const gid_t expectedGid = expected->pw_gid;
    const QString name = QString::fromLocal8Bit(expected->pw_name);
    const QString home = QString::fromLocal8Bit(expected->pw_dir);

    // The store runs as root without a login session here, so the drop goes to the sudo
    // caller.
    ScopedEnv pkexec("PKEXEC_UID", QByteArray());
    ScopedEnv sudo("SUDO_UID", QByteArray::number(expectedUid));

    // The launched program must be able to write here whoever it runs as.
    QTemporaryDir work(QDir::tempPath() + "/corvane-datathread-XXXXXX");
    QVERIFY(work.isValid());
    QVERIFY(chmod(QFile::encodeName(work.path()).constData(), 0777) == 0);
    if (!AccountAccess::whyUnreachable(work.path()).isEmpty())
        QSKIP(qPrintable(AccountAccess::whyUnreachable(work.path())));
    const QString gate = work.filePath("gate");
    QVERIFY(mkfifo(QFile::encodeName(gate).constData(), 0666) == 0);
    QVERIFY(chmod(QFile::encodeName(gate).constData(), 0666) == 0);

    const QString w = work.path();
    // A command line as written for the shell: variables, && and a pipe.
    DataThread thread("id -u > " + w + "/uid; id -g > " + w +
                      "/gid; echo \"$HOME $USER $LOGNAME\" > " + w + "/env && id -G | cat > " + w +
                      "/groups; read line < " + gate + "; echo $line > " + w + "/done");
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(!readTrimmed(w + "/groups").isEmpty(), 30000);

    // The program is still waiting at its gate, so the thread must still be there. The gate
    // is opened before anything is checked, so that a failed check leaves nothing running.
    const bool running = thread.isRunning();
    const int fd = open(QFile::encodeName(gate).constData(), O_WRONLY);
    QVERIFY(fd >= 0);
    QVERIFY(write(fd, "open\n", 5) == 5);
    close(fd);
    QVERIFY(thread.wait(30000));
    QVERIFY(running);
    QCOMPARE(readTrimmed(w + "/uid").toUInt(), expectedUid);
    QCOMPARE(readTrimmed(w + "/gid").toUInt(), expectedGid);
    QCOMPARE(readTrimmed(w + "/env"), home + ' ' + name + ' ' + name);
    QVERIFY(!readTrimmed(w + "/groups").split(' ').contains("0"));
    QCOMPARE(readTrimmed(w + "/done"), QString("open"));
}

void TestProcessThreads::loginAccount_data()
{
    QTest::addColumn<QByteArray>("login"); // what getlogin() gives; null for nothing
    QTest::addColumn<QByteArray>("pkexec");
    QTest::addColumn<QByteArray>("sudo");
    QTest::addColumn<QString>("account"); // empty: refused

    const QByteArray none;
    QTest::newRow("login name") << QByteArray("nobody") << QByteArray("0") << none << "nobody";
    QTest::newRow("login name of root") << QByteArray("root") << none << none << "";
    QTest::newRow("login name without account")
        << QByteArray("cv-no-such-user") << none << none << "";
    QTest::newRow("PKEXEC_UID") << none << QByteArray("65534") << QByteArray("0") << "nobody";
    QTest::newRow("SUDO_UID") << none << none << QByteArray("65534") << "nobody";
    QTest::newRow("PKEXEC_UID 0") << none << QByteArray("0") << QByteArray("65534") << "";
    QTest::newRow("id without account") << none << QByteArray("3999999") << none << "";
    QTest::newRow("id not a number") << none << QByteArray("65534x") << none << "";
    QTest::newRow("nothing at all") << none << none << none << "";
}

void TestProcessThreads::loginAccount()
{
    QFETCH(QByteArray, login);
    QFETCH(QByteArray, pkexec);
    QFETCH(QByteArray, sudo);
    QFETCH(QString, account);
    const passwd *nobody = getpwnam("nobody");
    if (!nobody || nobody->pw_uid != 65534)
        QSKIP("no account nobody with id 65534");

    ScopedEnv pkexecUid("PKEXEC_UID", pkexec);
    ScopedEnv sudoUid("SUDO_UID", sudo);
    Privileges::LoginAccount found;
    QCOMPARE(Privileges::findLoginAccount(login.isNull() ? nullptr : login.constData(), &found),
             !account.isEmpty());
    if (account.isEmpty())
        return;
    QCOMPARE(QString::fromStdString(found.name), account);
    QCOMPARE(found.uid, uid_t(65534));
    QCOMPARE(QString::fromStdString(found.home), QString::fromLocal8Bit(nobody->pw_dir));
}

void TestProcessThreads::dataThreadNeverLaunchesAsRoot()
{
    if (getlogin())
        QSKIP("a login session names the user here; the environment does not decide");
    // Started by root through pkexec, or with nothing that names a user.
    for (const QByteArray &pkexec : {QByteArray("0"), QByteArray()}) {
        ScopedEnv pkexecUid("PKEXEC_UID", pkexec);
        ScopedEnv sudoUid("SUDO_UID", QByteArray());
        QTemporaryDir work;
        QVERIFY(work.isValid());
        DataThread thread("touch " + work.filePath("launched"));
        thread.start();
        QVERIFY(thread.wait(30000));
        QVERIFY2(!QFile::exists(work.filePath("launched")), pkexec.constData());
    }
}

void TestProcessThreads::killThreadKillsBothProcesses_data()
{
    QTest::addColumn<QString>("match");
    const QString pid = QString::number(getpid());

    QTest::newRow("plain") << "cv-kill-" + pid;
    QTest::newRow("quote and blank") << "cv kill'" + pid;
    QTest::newRow("command substitution") << "cv$(touch injected)" + pid;
    // Too long for a fixed 500-byte command buffer.
    QTest::newRow("600 characters") << "cv-" + QString(600, 'k') + pid;
}

void TestProcessThreads::killThreadKillsBothProcesses()
{
    QFETCH(QString, match);
    Sandbox sandbox;
    QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));

    FakeDownload download(match, 2);
    QVERIFY(download.started());
    const CancelledRun cancelled(match);
    KillThread thread(match);
    thread.start();
    QVERIFY(download.waitKilled());
    // With both kills counted it stops instead of polling on.
    QVERIFY(thread.wait(60000));
    QVERIFY(!QFile::exists(sandbox.path("/tmp/process")));
    QVERIFY(!QFile::exists("injected"));
}

void TestProcessThreads::killThreadSparesOtherPackages()
{
    Sandbox sandbox;
    const QString key = "cv-spare" + QString::number(getpid());
    // Names that begin with the cancelled one, and its own download.
    FakeDownload longer(key + "-bar", 1), joined(key + "bar", 1), own(key, 2);
    QVERIFY(longer.started() && joined.started() && own.started());
    const CancelledRun cancelled(key);
    KillThread thread(key);
    thread.start();
    QVERIFY(own.waitKilled());
    QVERIFY(thread.wait(60000));
    QVERIFY(longer.running() && joined.running());
}

// The cancelled task has ended: a download of the same package now is another request's, and
// the killer leaves it.
void TestProcessThreads::killThreadLeavesALaterDownload()
{
    Sandbox sandbox;
    const QString key = "cv-later" + QString::number(getpid());
    FakeDownload later(key, 2);
    QVERIFY(later.started());
    {
        const CancelledRun endedBeforeTheKiller(key);
    }
    KillThread thread(key);
    thread.start();
    QVERIFY(thread.wait(60000));
    QVERIFY(later.running());
}

QObject *createProcessThreadTests()
{
    return new TestProcessThreads;
}

#include "tst_processthreads.moc"
