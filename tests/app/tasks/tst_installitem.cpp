#include "fakedownload.h"
#include "tasks/combobox.h"
#include "tasks/installitem.h"
#include "tests/support/cancelledrun.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/testrepository.h"
#include "widgets/cycloprogress.h"

#include <QtWidgets>

#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTest>

#include <optional>
#include <unistd.h>

namespace
{

struct RunningCheck {
    int calls = 0;
    QString operation;
    QString package;
    bool mayProceed = false;
};

RpmData record(const QString &icon, const QString &exec, const QString &size = "1000")
{
    RpmData data;
    data.m_rpm = icon + "-1.0-1";
    data.m_icon = icon;
    data.m_exec = exec;
    data.m_name = icon;
    data.m_version = "1.0";
    data.m_size = size;
    return data;
}

// Answers isRunningSignal as the main window would and remembers what it was asked.
void answerRunningCheck(InstallItem &item, RunningCheck *check, bool answer)
{
    QObject::connect(&item, &InstallItem::isRunningSignal, &item,
                     [check, answer](int, QTableWidget *, QString op, QString rpm, bool may) {
                         ++check->calls;
                         check->operation = op;
                         check->package = rpm;
                         check->mayProceed = may;
                         return answer;
                     });
}

bool shown(QWidget *widget)
{
    return !widget->isHidden();
}

QString unique(const QString &stem)
{
    return stem + QString::number(getpid());
}

const QString Selector = "selector";

} // namespace

class TestInstallItem : public QObject
{
    Q_OBJECT

private slots:
    void openAppEmitsOnlyExecTask();
    void runningApplication_data();
    void runningApplication();
    void commandLineStaysInsideCheck_data();
    void commandLineStaysInsideCheck();
    void selectorRunsBareWord_data();
    void selectorRunsBareWord();
    void cancelSwallowsOneResult_data();
    void cancelSwallowsOneResult();
    void progressMeasurement_data();
    void progressMeasurement();
    void resultTable_data();
    void resultTable();
    void progressOfRealYumDownload();
};

void TestInstallItem::openAppEmitsOnlyExecTask()
{
    Sandbox sandbox;
    InstallItem item(nullptr, record("cv-player", "/usr/bin/cv-player --fullscreen"), {},
                     "打开软件", 4, nullptr);
    QCOMPARE(item.objectName(), QString("cv-player-1.0"));
    QSignalSpy exec(&item, &InstallItem::execTaskSignal);
    RunningCheck check;
    answerRunningCheck(item, &check, true);
    QSignalSpy start(&item, &InstallItem::startExecSignal);
    QSignalSpy progress(&item, &InstallItem::progressSignal);
    item.show();
    QTest::mouseClick(item.operationButton(), Qt::LeftButton);

    QCOMPARE(exec.count(), 1);
    QCOMPARE(exec.first(),
             QVariantList({"打开软件", 0, "/usr/bin/cv-player --fullscreen", "cv-player"}));
    QCOMPARE(check.calls + start.count() + progress.count(), 0);
    QVERIFY(!item.isBusy());
    QVERIFY(shown(item.operationButton()));
    QVERIFY(!shown(item.progressBar()) && !shown(item.cycloProgress()));
}

void TestInstallItem::runningApplication_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<bool>("running");
    QTest::addColumn<bool>("confirm");
    QTest::addColumn<bool>("mayProceed");
    QTest::addColumn<QString>("look"); // button, progress or spinner afterwards

    QTest::newRow("upgrade while running") << "升级" << true << false << false << "button";
    QTest::newRow("confirmed uninstall while running")
        << "卸载" << true << true << false << "button";
    QTest::newRow("upgrade") << "升级" << false << false << true << "progress";
    QTest::newRow("confirmed uninstall") << "卸载" << false << true << true << "spinner";
    QTest::newRow("uninstall not confirmed") << "卸载" << false << false << true << "button";
}

void TestInstallItem::runningApplication()
{
    QFETCH(QString, operation);
    QFETCH(bool, running);
    QFETCH(bool, confirm);
    QFETCH(bool, mayProceed);
    QFETCH(QString, look);

    Sandbox sandbox;
    // A real program with this very command line.
    const QString seconds = QString::number(200000 + getpid());
    QProcess program;
    if (running) {
        program.start("sleep", {seconds});
        QVERIFY(program.waitForStarted());
    }
    InstallItem item(nullptr, record("cv-editor", "sleep " + seconds), {}, operation, 2, nullptr);
    RunningCheck check;
    answerRunningCheck(item, &check, confirm);
    QSignalSpy progress(&item, &InstallItem::progressSignal);

    item.installAppSlot();
    QCOMPARE(check.calls, 1);
    QCOMPARE(check.operation, operation);
    QCOMPARE(check.package, QString("cv-editor-1.0-1"));
    QCOMPARE(check.mayProceed, mayProceed);
    QCOMPARE(shown(item.operationButton()), look == "button");
    QCOMPARE(item.operationButton()->text(), operation);
    QCOMPARE(shown(item.progressBar()), look == "progress");
    QCOMPARE(item.isMeasuring(), look == "progress");
    QCOMPARE(shown(item.cycloProgress()), look == "spinner");
    QCOMPARE(item.cycloProgress()->isAnimating(), look == "spinner");
    QCOMPARE(progress.count(), 0);
    if (running) {
        program.kill();
        program.waitForFinished();
    }
}

void TestInstallItem::commandLineStaysInsideCheck_data()
{
    QTest::addColumn<QString>("exec");
    QTest::addColumn<bool>("mayProceed");

    QTest::newRow("quote") << "x'; touch INJECTED; echo '" << true;
    QTest::newRow("command substitution") << "$(touch INJECTED)" << true;
    QTest::newRow("backquotes") << "`touch INJECTED`" << true;
    QTest::newRow("empty") << "" << true;
    QTest::newRow("NULL") << "NULL" << true;
}

void TestInstallItem::commandLineStaysInsideCheck()
{
    QFETCH(QString, exec);
    QFETCH(bool, mayProceed);

    Sandbox sandbox;
    const QString marker = sandbox.path("/injected");
    exec.replace("INJECTED", marker);
    InstallItem item(nullptr, record("cv-hello", exec), {}, "卸载", 0, nullptr);
    RunningCheck check;
    answerRunningCheck(item, &check, false);
    item.installAppSlot();
    QCOMPARE(check.calls, 1);
    QCOMPARE(check.mayProceed, mayProceed);
    QVERIFY(!QFile::exists(marker));
}

void TestInstallItem::selectorRunsBareWord_data()
{
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("x");
    QTest::addColumn<QString>("chosen");
    QTest::addColumn<QString>("operation");

    QTest::newRow("first entry") << 0 << 10 << "  一键安装"
                                 << "一键安装";
    QTest::newRow("second entry") << 1 << 60 << "      下载"
                                  << "下载";
    QTest::newRow("arrow only opens the list") << 1 << 85 << ""
                                               << "";
}

void TestInstallItem::selectorRunsBareWord()
{
    QFETCH(int, index);
    QFETCH(int, x);
    QFETCH(QString, chosen);
    QFETCH(QString, operation);

    Sandbox sandbox;
    InstallItem item(nullptr, record("cv-hello", "cv-hello"), {"一键安装", "下载"}, "", 1, nullptr);
    QVERIFY(!item.getOperSign());
    QVERIFY(!shown(item.operationButton()));
    RunningCheck check;
    answerRunningCheck(item, &check, false);
    QSignalSpy start(&item, &InstallItem::startExecSignal);
    item.show();
    item.comboBox()->setCurrentIndex(index);
    QTest::mousePress(item.comboBox(), Qt::LeftButton, Qt::NoModifier, QPoint(x, 20));

    if (operation.isEmpty()) {
        QCOMPARE(start.count(), 0);
        QCOMPARE(check.calls, 0);
        // The list, made on this first opening, uses the selector's delegate.
        QVERIFY(item.comboBox()->view()->isVisible());
        QVERIFY(qobject_cast<QStyledItemDelegate *>(item.comboBox()->itemDelegate()));
        item.comboBox()->hidePopup();
        return;
    }
    QCOMPARE(start.count(), 1);
    QCOMPARE(start.first().first().toString(), chosen);
    QCOMPARE(check.operation, operation);
    QCOMPARE(item.operation(), operation);
    QVERIFY(item.isMeasuring());
    QVERIFY(shown(item.progressBar()) && shown(item.cancelButton()));
    QVERIFY(!shown(item.comboBox()));
}

void TestInstallItem::cancelSwallowsOneResult_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("restored"); // button text, or the selector
    QTest::addColumn<QString>("after");    // button text after the second result

    QTest::newRow("download") << "下载" << Selector << "安装";
    QTest::newRow("one-click install") << "一键安装" << Selector << "打开软件";
    QTest::newRow("upgrade") << "升级"
                             << "升级"
                             << "打开软件";
}

void TestInstallItem::cancelSwallowsOneResult()
{
    QFETCH(QString, operation);
    QFETCH(QString, restored);
    QFETCH(QString, after);

    Sandbox sandbox;
    const QString key = unique("cv-cancel-");
    // The download being cancelled: the kill thread must find and end it.
    FakeDownload download(key, 2);
    QVERIFY(download.started());
    const bool selector = restored == Selector;
    InstallItem item(nullptr, record(key, unique("not-running-")),
                     selector ? QStringList{"一键安装", "下载"} : QStringList{},
                     selector ? QString() : operation, 3, nullptr);
    QSignalSpy cancelled(&item, &InstallItem::cancelDownLoadSignal);
    // As the queue marks its running task when it learns of the cancel.
    std::optional<CancelledRun> cancelledRun;
    connect(&item, &InstallItem::cancelDownLoadSignal, this,
            [&](const QString &cancelledKey) { cancelledRun.emplace(cancelledKey); });
    item.show();
    item.execTask(operation);
    QVERIFY(item.isMeasuring());

    QTest::mouseClick(item.cancelButton(), Qt::LeftButton);
    QCOMPARE(cancelled.count(), 1);
    QCOMPARE(cancelled.first().first().toString(), key);
    QVERIFY(!item.isMeasuring());
    QVERIFY(!shown(item.progressBar()) && !shown(item.cancelButton()));
    QCOMPARE(shown(item.comboBox()), selector);
    QCOMPARE(shown(item.operationButton()), !selector);
    if (!selector)
        QCOMPARE(item.operationButton()->text(), restored);
    QVERIFY(download.waitKilled());
    QTRY_VERIFY(!QFile::exists(sandbox.path("/tmp/process")));

    // The failure the cancelled download reports is swallowed...
    item.execTaskSlot(operation, -1, "", key);
    QCOMPARE(shown(item.comboBox()), selector);
    QCOMPARE(shown(item.operationButton()), !selector);
    QVERIFY(item.isBusy());
    // ...and the next result is applied.
    item.execTaskSlot(operation, 0, "", key);
    QVERIFY(!item.isBusy());
    QVERIFY(shown(item.operationButton()));
    QCOMPARE(item.operationButton()->text(), after);
}

void TestInstallItem::progressMeasurement_data()
{
    QTest::addColumn<QString>("operation");
    QTest::addColumn<QString>("size");
    QTest::addColumn<qint64>("downloaded");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<int>("percent");
    QTest::addColumn<bool>("stillMeasuring");
    QTest::addColumn<bool>("spinner");

    QTest::newRow("half of 50 MB")
        << "下载"
        << "50000000" << qint64(25000000) << ".x86_64.rpm" << 50 << true << false;
    // Compared in KiB the last missing byte disappears.
    QTest::newRow("KiB decides") << "下载"
                                 << "40961023" << qint64(40961022) << ".x86_64.rpm" << 100 << false
                                 << false;
    QTest::newRow("bytes below the threshold")
        << "下载"
        << "40000000" << qint64(39999999) << ".x86_64.rpm" << 99 << true << false;
    QTest::newRow("noarch") << "下载"
                            << "2000" << qint64(1000) << ".noarch.rpm" << 50 << true << false;
    QTest::newRow("aarch64") << "下载"
                             << "3000" << qint64(1000) << ".aarch64.rpm" << 33 << true << false;
    QTest::newRow("mips64el") << "下载"
                              << "3000" << qint64(2000) << ".mips64el.rpm" << 66 << true << false;
    QTest::newRow("download complete")
        << "下载"
        << "4000" << qint64(4000) << ".x86_64.rpm" << 100 << false << false;
    QTest::newRow("one-click install goes on installing")
        << "一键安装"
        << "4000" << qint64(4000) << ".x86_64.rpm" << 100 << false << true;
    QTest::newRow("upgrade goes on installing")
        << "升级"
        << "4000" << qint64(4000) << ".x86_64.rpm" << 100 << false << true;
    QTest::newRow("above 100 keeps polling")
        << "下载"
        << "1000" << qint64(2000) << ".x86_64.rpm" << 200 << true << false;
    QTest::newRow("size zero") << "下载"
                               << "0" << qint64(100) << ".x86_64.rpm" << 0 << true << false;
    QTest::newRow("size not a number")
        << "下载"
        << "abc" << qint64(100) << ".x86_64.rpm" << 0 << true << false;
    // No file yet: the tick reports nothing and polling goes on.
    QTest::newRow("no partial file") << "下载"
                                     << "4000" << qint64(0) << "" << 0 << true << false;
    // A complete file from an earlier download is there before this one begins.
    QTest::newRow("leftover file") << "下载"
                                   << "4000" << qint64(4000) << "leftover" << 0 << true << false;
}

void TestInstallItem::progressMeasurement()
{
    QFETCH(QString, operation);
    QFETCH(QString, size);
    QFETCH(qint64, downloaded);
    QFETCH(QString, suffix);
    QFETCH(int, percent);
    QFETCH(bool, stillMeasuring);
    QFETCH(bool, spinner);

    Sandbox sandbox;
    const RpmData data = record("cv-big", unique("not-running-"), size);
    // dnf writes the package under its final name while it downloads.
    const QString directory = sandbox.packageDirectory() + '/' + data.m_rpm;
    QVERIFY(QDir().mkpath(directory));
    const bool leftover = suffix == "leftover";
    const QString complete = directory + '/' + data.m_rpm + ".x86_64.rpm";
    auto writePackage = [&](const QString &path) {
        QFile file(path);
        return file.open(QIODevice::WriteOnly) && file.resize(downloaded);
    };
    if (leftover) {
        QFile file(complete);
        QVERIFY(writePackage(complete) && file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addDays(-1),
                                 QFileDevice::FileModificationTime));
    }

    InstallItem item(nullptr, data, {}, operation, 0, nullptr);
    QSignalSpy progress(&item, &InstallItem::progressSignal);
    item.execTask(operation);
    // The download writes its file once it has begun.
    if (!suffix.isEmpty() && !leftover)
        QVERIFY(writePackage(directory + '/' + data.m_rpm + suffix));
    item.setProgressSlot();

    const bool measured = !suffix.isEmpty() && !leftover;
    QCOMPARE(progress.count(), measured ? 1 : 0);
    if (measured)
        QCOMPARE(progress.first(), QVariantList({"cv-big", percent}));
    if (percent <= 100)
        QCOMPARE(item.progressBar()->value(), percent);
    QCOMPARE(item.isMeasuring(), stillMeasuring);
    QCOMPARE(shown(item.cycloProgress()), spinner);
    QCOMPARE(shown(item.progressBar()), !spinner);
    if (leftover) {
        // Fetched again over the old file: now it is this download's.
        QVERIFY(writePackage(complete));
        item.setProgressSlot();
        QCOMPARE(progress.count(), 1);
        QCOMPARE(progress.first(), QVariantList({"cv-big", 100}));
    }
}

void TestInstallItem::resultTable_data()
{
    QTest::addColumn<QString>("type");
    QTest::addColumn<int>("res");
    QTest::addColumn<QString>("button"); // text, or empty when hidden
    QTest::addColumn<bool>("selector");
    QTest::addColumn<int>("progress100");

    QTest::newRow("upgrade ok") << "升级" << 0 << "打开软件" << false << 0;
    QTest::newRow("upgrade failed") << "升级" << -1 << "升级" << false << 0;
    QTest::newRow("uninstall ok") << "卸载" << 0 << "" << false << 0;
    QTest::newRow("uninstall failed") << "卸载" << -1 << "卸载" << false << 0;
    QTest::newRow("one-click ok") << "一键安装" << 0 << "打开软件" << false << 0;
    QTest::newRow("one-click failed") << "一键安装" << -2 << "" << true << 0;
    QTest::newRow("download ok") << "下载" << 0 << "安装" << false << 1;
    QTest::newRow("install ok") << "安装" << 0 << "打开软件" << false << 0;
    QTest::newRow("install failed") << "安装" << -2 << "安装" << false << 0;
}

void TestInstallItem::resultTable()
{
    QFETCH(QString, type);
    QFETCH(int, res);
    QFETCH(QString, button);
    QFETCH(bool, selector);
    QFETCH(int, progress100);

    Sandbox sandbox;
    const bool offersChoice = type == "一键安装" || type == "下载";
    InstallItem item(nullptr, record("cv-hello", unique("not-running-")),
                     offersChoice ? QStringList{"一键安装", "下载"} : QStringList{},
                     offersChoice ? QString() : type, 0, nullptr);
    RunningCheck check;
    answerRunningCheck(item, &check, true);
    QSignalSpy progress(&item, &InstallItem::progressSignal);
    item.execTask(type);
    QVERIFY(item.isBusy());

    item.execTaskSlot(type, res, "1", "cv-hello");
    QVERIFY(!item.isBusy());
    QVERIFY(!item.isMeasuring());
    QVERIFY(!shown(item.progressBar()) && !shown(item.cancelButton()));
    QVERIFY(!shown(item.cycloProgress()) && !item.cycloProgress()->isAnimating());
    QCOMPARE(shown(item.operationButton()), !button.isEmpty());
    if (!button.isEmpty())
        QCOMPARE(item.operationButton()->text(), button);
    QCOMPARE(shown(item.comboBox()), selector);
    if (selector)
        QCOMPARE(item.comboBox()->itemText(1), QString("下载"));
    QCOMPARE(progress.count(), progress100);
}

namespace
{

// Serves a directory over loopback, the package files slowly enough that a download can be
// watched while it runs.
const char SlowServer[] = R"(
import functools, http.server, sys, time
class Handler(http.server.SimpleHTTPRequestHandler):
    def copyfile(self, source, target):
        while True:
            block = source.read(32768)
            if not block:
                break
            target.write(block)
            if self.path.endswith('.rpm'):
                time.sleep(0.05)
    def log_message(self, *args):
        pass
server = http.server.ThreadingHTTPServer(('127.0.0.1', 0),
                                         functools.partial(Handler, directory=sys.argv[1]))
print(server.server_address[1], flush=True)
server.serve_forever()
)";

} // namespace

void TestInstallItem::progressOfRealYumDownload()
{
    TestRepository &repository = TestRepository::shared();
    QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
    Sandbox sandbox(&repository);
    QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));

    QProcess server;
    server.start("python3", {"-c", SlowServer, repository.directory()});
    QVERIFY(server.waitForStarted() && server.waitForReadyRead(30000));
    const int port = server.readLine().trimmed().toInt();
    QVERIFY(port > 0);
    // The sandbox's yum reads its repository from here; point it at the slow server.
    QFile conf(sandbox.path("/.sandbox/dnf.conf"));
    QVERIFY(conf.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(conf.readAll());
    conf.close();
    text.replace("file://" + repository.directory(), QString("http://127.0.0.1:%1/").arg(port));
    QVERIFY(conf.open(QIODevice::WriteOnly | QIODevice::Truncate));
    conf.write(text.toUtf8());
    conf.close();

    const TestPackage big = repository.packages().last();
    QCOMPARE(big.name, QString("cv-big"));
    RpmData data = record("cv-big", "cv-big");
    data.m_size = QString::number(QFileInfo(repository.packageFile(big)).size());
    InstallItem item(nullptr, data, {}, "下载", 0, nullptr);
    QList<int> seen;
    connect(&item, &InstallItem::progressSignal, this, [&seen](QString, int p) { seen << p; });
    item.execTask("下载");

    // The download as the download worker runs it.
    const QString directory = sandbox.packageDirectory() + "/cv-big-1.0-1";
    QVERIFY(QDir().mkpath(directory));
    QProcess yum;
    yum.start("sh",
              {"-c", "yum install --downloadonly --downloaddir " + directory + " cv-big-1.0-1"});
    QVERIFY(yum.waitForStarted());
    QTRY_VERIFY_WITH_TIMEOUT(seen.contains(100) || yum.state() == QProcess::NotRunning, 180000);
    yum.waitForFinished(180000);
    QTRY_VERIFY_WITH_TIMEOUT(seen.contains(100), 10000);
    server.kill();
    server.waitForFinished();

    QVERIFY2(yum.exitCode() == 0, yum.readAll().constData());
    QVERIFY(!item.isMeasuring());
    bool partway = false;
    for (int p : seen)
        partway = partway || (p > 0 && p < 100);
    QVERIFY2(partway, qPrintable(QString("progress seen: %1").arg(seen.size())));
    for (int i = 1; i < seen.size(); ++i)
        QVERIFY(seen.at(i) >= seen.at(i - 1));
}

QObject *createInstallItemTests()
{
    return new TestInstallItem;
}

#include "tst_installitem.moc"
