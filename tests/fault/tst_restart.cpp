#include "queues/downloadthread.h"
#include "records/paths.h"
#include "storage/database.h"
#include "tasks/items.h"
#include "tasks/loaddialog.h"
#include "tests/core/queues/toolbox.h"
#include "tests/support/sandbox.h"
#include "tests/support/sqlrows.h"
#include "tests/support/testfiles.h"
#include "tests/support/testrepository.h"

#include <QApplication>
#include <QProcess>
#include <QTest>

#include <signal.h>

namespace
{

const int Long = 120000;
const char *const ChildArgument = "--interrupted-download";

QString readText(const QString &path)
{
    return QString::fromUtf8(readFile(path)).trimmed();
}

QStringList records(const char *table)
{
    const QByteArray sql = QByteArray("select name, state, operation from ") + table;
    return rowsOf(Paths::localDatabase().toUtf8(), sql.constData());
}

// The store as far as one download goes: the manager records it and the worker starts it.
// Runs until it is killed.
int runInterruptedDownload(int argc, char **argv)
{
    QApplication app(argc, argv);
    LoadDialog dialog;
    dialog.addDatatotable(1, QStringLiteral("你好"), QStringLiteral("cv-hello"),
                          QStringLiteral("1M"), QStringLiteral("下载"), 0);
    auto *worker = new DownloadThread;
    worker->insertQueue(OperInfo{QStringLiteral("下载"), QStringLiteral("1"),
                                 QStringLiteral("cv-hello-1.0-1.x86_64"),
                                 QStringLiteral("cv-hello")});
    worker->start();
    return app.exec();
}

} // namespace

class TestRestart : public QObject
{
    Q_OBJECT

private slots:
    // The store is killed while yum downloads; at the next start the download manager shows
    // the download as failed, ready to be started again.
    void killedDuringDownloadShowsFailedAtNextStart()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
        ToolBox tools(sandbox);
        tools.add(QStringLiteral("yum"),
                  QStringLiteral("echo $$ > \"$EVENTS.pid\"; exec /bin/sleep 600"));

        QProcess store;
        store.setProcessChannelMode(QProcess::ForwardedChannels);
        store.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(ChildArgument)});
        QVERIFY(store.waitForStarted());
        const QString pidFile = tools.eventsFile() + QStringLiteral(".pid");
        QTRY_VERIFY_WITH_TIMEOUT(!readText(pidFile).isEmpty(), Long);
        QCOMPARE(records("loadrecord"), QStringList{"cv-hello|正在下载|下载"});
        store.kill();
        QVERIFY(store.waitForFinished(Long));
        QCOMPARE(::kill(readText(pidFile).toInt(), SIGKILL), 0);

        LoadDialog dialog;
        Items *item = dialog.itemOf(QStringLiteral("cv-hello"));
        QVERIFY(item);
        QCOMPARE(item->state(), QStringLiteral("下载失败"));
        QCOMPARE(records("loadrecord"), QStringList{"cv-hello|下载失败|下载"});
        QCOMPARE(records("loadmanage"), QStringList{"cv-hello|正在下载|下载"});
        QVERIFY(sandbox.installedPackages().isEmpty());
    }
};

int main(int argc, char **argv)
{
    if (argc > 1 && qstrcmp(argv[1], ChildArgument) == 0)
        return runInterruptedDownload(argc, argv);
    QApplication app(argc, argv);
    TestRestart test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_restart.moc"
