#include "fakedownload.h"
#include "tasks/datathread.h"
#include "tasks/killthread.h"
#include "tests/support/sandbox.h"

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
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll()).trimmed();
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
    void killThreadKillsBothProcesses_data();
    void killThreadKillsBothProcesses();
};

void TestProcessThreads::dataThreadRunsAsLoginUserWhileCommandRuns()
{
    const passwd *nobody = getpwnam("nobody");
    if (!nobody)
        QSKIP("no account nobody");
    const uid_t nobodyUid = nobody->pw_uid;

    // The store runs as root without a login session here, so the drop goes to the sudo
    // caller; with a login name it goes to that account instead.
    ScopedEnv pkexec("PKEXEC_UID", QByteArray());
    ScopedEnv sudo("SUDO_UID", QByteArray::number(nobodyUid));
    uid_t expectedUid = nobodyUid;
    if (const char *login = getlogin())
        if (const passwd *account = getpwnam(login))
            expectedUid = account->pw_uid;
    const passwd *expected = getpwuid(expectedUid);
    QVERIFY(expected);
    const gid_t expectedGid = expected->pw_gid;

    // The launched program must be able to write here whoever it runs as.
    QTemporaryDir work(QDir::tempPath() + "/corvane-datathread-XXXXXX");
    QVERIFY(work.isValid());
    QVERIFY(chmod(QFile::encodeName(work.path()).constData(), 0777) == 0);
    const QString gate = work.filePath("gate");
    QVERIFY(mkfifo(QFile::encodeName(gate).constData(), 0666) == 0);
    QVERIFY(chmod(QFile::encodeName(gate).constData(), 0666) == 0);

    const QString w = work.path();
    DataThread thread("id -u > " + w + "/uid; id -g > " + w + "/gid; id -G > " + w +
                      "/groups; read line < " + gate + "; echo $line > " + w + "/done");
    thread.start();
    QTRY_VERIFY_WITH_TIMEOUT(!readTrimmed(w + "/groups").isEmpty(), 30000);

    // The program is still waiting at its gate, so the thread must still be there.
    QVERIFY(thread.isRunning());
    QCOMPARE(readTrimmed(w + "/uid").toUInt(), expectedUid);
    QCOMPARE(readTrimmed(w + "/gid").toUInt(), expectedGid);
    if (expectedUid != 0)
        QVERIFY(!readTrimmed(w + "/groups").split(' ').contains("0"));

    const int fd = open(QFile::encodeName(gate).constData(), O_WRONLY);
    QVERIFY(fd >= 0);
    QVERIFY(write(fd, "open\n", 5) == 5);
    close(fd);
    QVERIFY(thread.wait(30000));
    QCOMPARE(readTrimmed(w + "/done"), QString("open"));
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
    KillThread thread(match);
    thread.start();
    QVERIFY(download.waitKilled());
    // With both kills counted it stops instead of polling on.
    QVERIFY(thread.wait(60000));
    QVERIFY(!QFile::exists(sandbox.path("/tmp/process")));
    QVERIFY(!QFile::exists("injected"));
}

int runProcessThreadTests(int argc, char **argv)
{
    TestProcessThreads tests;
    return QTest::qExec(&tests, argc, argv);
}

#include "tst_processthreads.moc"
