#include "storage/database.h"
#include "tasks/items.h"
#include "tasks/loaddialog.h"
#include "tests/support/sandbox.h"
#include "tests/support/sqlrows.h"

#include <QtWidgets>

#include <QSignalSpy>
#include <QTest>

namespace
{

// Every record of a download table as "key|state|operation|code", in table order.
QStringList records(const Sandbox &sandbox, const char *table)
{
    const QByteArray db = sandbox.path("/opt/corvane/db/software.db").toUtf8();
    const QByteArray sql = QByteArray("select name, state, operation, number from ") + table;
    return rowsOf(db, sql.constData());
}

void store(const Sandbox &sandbox, const QString &key, const QString &state,
           const QString &oper = "下载", int code = 1)
{
    const QByteArray db = sandbox.path("/opt/corvane/db/software.db").toUtf8();
    for (const char *sql : {"insert into loadrecord values(?,?,?,?,?,?)",
                            "insert into loadmanage values(?,?,?,?,?,?)"})
        QCOMPARE(exec_sql(db.constData(), sql, "名称", key.toUtf8().constData(), "1.00M",
                          state.toUtf8().constData(), oper.toUtf8().constData(),
                          QByteArray::number(code).constData()),
                 0);
}

QStringList keys(const LoadDialog &dialog)
{
    QStringList out;
    const QTableWidget *table = dialog.findChild<QTableWidget *>("tableWidget_load");
    for (int row = 0; row < table->rowCount(); ++row)
        out << table->item(row, 1)->text();
    return out;
}

QWidget *part(Items *items, const char *name)
{
    return items->findChild<QWidget *>(name);
}
bool shown(Items *items, const char *name)
{
    return !part(items, name)->isHidden();
}
QString text(Items *items, const char *name)
{
    if (auto *label = qobject_cast<QLabel *>(part(items, name)))
        return label->text();
    return qobject_cast<QPushButton *>(part(items, name))->text();
}

} // namespace

class TestLoadDialog : public QObject
{
    Q_OBJECT

private slots:
    void sameKeyReplacesRow_data();
    void sameKeyReplacesRow();
    void storedRowsComeBack_data();
    void storedRowsComeBack();
    void downLoadFail_data();
    void downLoadFail();
    void progress_data();
    void progress();
    void installSuccessDropsManageRecord();
    void cleanLinks_data();
    void cleanLinks();
    void cleanWithoutPackageDirectoryClearsRecordsOnly();
    void cancelReportsTableCode_data();
    void cancelReportsTableCode();
    void reloadRestartsFailedRow();
    void removeButtonDropsRow();
};

void TestLoadDialog::sameKeyReplacesRow_data()
{
    QTest::addColumn<QString>("oper");
    QTest::addColumn<QString>("state");
    QTest::addColumn<int>("progress");

    QTest::newRow("download again") << "下载"
                                    << "正在下载" << 0;
    QTest::newRow("install after download") << "安装"
                                            << "正在安装" << 99;
}

void TestLoadDialog::sameKeyReplacesRow()
{
    QFETCH(QString, oper);
    QFETCH(QString, state);
    QFETCH(int, progress);

    Sandbox sandbox;
    {
        LoadDialog dialog;
        dialog.addDatatotable(3, "编辑器", "cv-editor", "2.50M", "一键安装", 0);
        dialog.addDatatotable(2, "播放器", "cv-player", "1.00M", "下载", 0);
        dialog.addDatatotable(5, "编辑器", "cv-editor", "2.50M", oper, 0);
        QCOMPARE(keys(dialog), QStringList({"cv-player", "cv-editor"}));
        Items *items = dialog.itemOf("cv-editor");
        QCOMPARE(items->state(), state);
        QCOMPARE(items->operation(), oper);
        QCOMPARE(qobject_cast<QProgressBar *>(part(items, "dialogprogressBar"))->value(), progress);
    }
    // Stored as running either way, and only once.
    const QStringList expected{"cv-player|正在下载|下载|2", "cv-editor|正在下载|" + oper + "|5"};
    QCOMPARE(records(sandbox, "loadrecord"), expected);
    QCOMPARE(records(sandbox, "loadmanage"), expected);
    LoadDialog restarted;
    QCOMPARE(keys(restarted), QStringList({"cv-player", "cv-editor"}));
}

void TestLoadDialog::storedRowsComeBack_data()
{
    QTest::addColumn<QString>("stored");
    QTest::addColumn<QString>("shownState");
    QTest::addColumn<QString>("reload"); // link text, empty when hidden
    QTest::addColumn<bool>("removable");

    QTest::newRow("cut off download") << "正在下载"
                                      << "下载失败"
                                      << "重新下载" << true;
    QTest::newRow("downloaded") << "下载成功"
                                << "下载成功"
                                << "" << true;
    QTest::newRow("installing") << "正在安装"
                                << "正在安装"
                                << "" << true;
    QTest::newRow("installed") << "安装成功"
                               << "安装成功"
                               << "" << true;
    QTest::newRow("download failed") << "下载失败"
                                     << "下载失败"
                                     << "重新下载" << true;
    QTest::newRow("install failed") << "安装失败"
                                    << "安装失败"
                                    << "" << false;
    QTest::newRow("finished") << "已完成"
                              << "已完成"
                              << "" << true;
}

void TestLoadDialog::storedRowsComeBack()
{
    QFETCH(QString, stored);
    QFETCH(QString, shownState);
    QFETCH(QString, reload);
    QFETCH(bool, removable);

    Sandbox sandbox;
    store(sandbox, "cv-hello", stored, "下载", 7);
    LoadDialog dialog;
    Items *items = dialog.itemOf("cv-hello");
    QVERIFY(items);
    QCOMPARE(items->state(), shownState);
    QCOMPARE(shown(items, "pushButton_reload"), !reload.isEmpty());
    if (!reload.isEmpty())
        QCOMPARE(text(items, "pushButton_reload"), reload);
    QCOMPARE(shown(items, "pushButton_cancel"), removable);
    QVERIFY(!shown(items, "dialogprogressBar"));

    // Only loadrecord learns that the cut-off download failed.
    QCOMPARE(records(sandbox, "loadrecord"), QStringList{"cv-hello|" + shownState + "|下载|7"});
    QCOMPARE(records(sandbox, "loadmanage"), QStringList{"cv-hello|" + stored + "|下载|7"});
}

void TestLoadDialog::downLoadFail_data()
{
    QTest::addColumn<QString>("package");
    QTest::addColumn<int>("flag");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("state");

    QTest::newRow("install failed") << "foo-bar-1.0-2" << -2 << "foo-bar"
                                    << "安装失败";
    QTest::newRow("download failed") << "foo-bar-1.0-2" << -1 << "foo-bar"
                                     << "下载失败";
    QTest::newRow("empty parts dropped") << "cv--hello-1.1-1" << -1 << "cv-hello"
                                         << "下载失败";
    QTest::newRow("unknown key") << "other-1.0-1" << -1 << ""
                                 << "";
}

void TestLoadDialog::downLoadFail()
{
    QFETCH(QString, package);
    QFETCH(int, flag);
    QFETCH(QString, key);
    QFETCH(QString, state);

    Sandbox sandbox;
    LoadDialog dialog;
    dialog.addDatatotable(1, "甲", "foo-bar", "1M", "一键安装", 0);
    dialog.addDatatotable(2, "乙", "cv-hello", "1M", "下载", 0);
    const QStringList before = records(sandbox, "loadrecord");
    dialog.downLoadFail(package, flag);

    if (key.isEmpty()) {
        QCOMPARE(records(sandbox, "loadrecord"), before);
        QCOMPARE(records(sandbox, "loadmanage"), before);
        return;
    }
    Items *items = dialog.itemOf(key);
    QCOMPARE(items->state(), state);
    QCOMPARE(text(items, "label"), state);
    QCOMPARE(shown(items, "pushButton_reload"), flag == -1);
    for (const char *table : {"loadrecord", "loadmanage"})
        QVERIFY(records(sandbox, table)
                    .contains(key + '|' + state + '|' + items->operation() + '|' +
                              (key == "foo-bar" ? "1" : "2")));
}

void TestLoadDialog::progress_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("oper");
    QTest::addColumn<int>("percent");
    QTest::addColumn<QString>("shownState");
    QTest::addColumn<QString>("storedState");

    QTest::newRow("partway") << "cv-hello"
                             << "下载" << 40 << "正在下载"
                             << "正在下载";
    QTest::newRow("downloaded") << "cv-hello"
                                << "下载" << 100 << "下载成功"
                                << "下载成功";
    QTest::newRow("one-click installs next") << "cv-hello"
                                             << "一键安装" << 100 << "正在安装"
                                             << "下载成功";
    QTest::newRow("unknown key") << "cv-none"
                                 << "下载" << 100 << ""
                                 << "正在下载";
}

void TestLoadDialog::progress()
{
    QFETCH(QString, key);
    QFETCH(QString, oper);
    QFETCH(int, percent);
    QFETCH(QString, shownState);
    QFETCH(QString, storedState);

    Sandbox sandbox;
    LoadDialog dialog;
    dialog.addDatatotable(4, "你好", "cv-hello", "1M", oper, 0);
    dialog.progressSlot(key, percent);
    const QStringList expected{"cv-hello|" + storedState + '|' + oper + "|4"};
    QCOMPARE(records(sandbox, "loadrecord"), expected);
    QCOMPARE(records(sandbox, "loadmanage"), expected);
    if (!shownState.isEmpty())
        QCOMPARE(dialog.itemOf(key)->state(), shownState);
}

void TestLoadDialog::installSuccessDropsManageRecord()
{
    Sandbox sandbox;
    LoadDialog dialog;
    dialog.addDatatotable(4, "你好", "cv-hello", "1M", "一键安装", 0);
    dialog.addDatatotable(5, "编辑", "cv-editor", "1M", "下载", 0);
    dialog.installSuccess("cv-hello", "一键安装");
    QCOMPARE(dialog.itemOf("cv-hello")->state(), QString("安装成功"));
    QVERIFY(shown(dialog.itemOf("cv-hello"), "pushButton_cancel"));
    QCOMPARE(records(sandbox, "loadrecord"),
             QStringList({"cv-hello|安装成功|一键安装|4", "cv-editor|正在下载|下载|5"}));
    QCOMPARE(records(sandbox, "loadmanage"), QStringList({"cv-editor|正在下载|下载|5"}));
}

void TestLoadDialog::cleanLinks_data()
{
    QTest::addColumn<QString>("link");
    QTest::addColumn<QStringList>("remaining");

    QTest::newRow("清除无效下载") << "label_delvalid"
                                  << QStringList{"k-finished", "k-loaded", "k-installed",
                                                 "k-installing", "k-running"};
    QTest::newRow("清除已下载") << "label_delload"
                                << QStringList{"k-failed",     "k-broken",  "k-finished",
                                               "k-installing", "../victim", "k-running"};
}

void TestLoadDialog::cleanLinks()
{
    QFETCH(QString, link);
    QFETCH(QStringList, remaining);

    Sandbox sandbox;
    store(sandbox, "k-failed", "下载失败");
    store(sandbox, "k-broken", "安装失败");
    store(sandbox, "k-finished", "已完成");
    store(sandbox, "k-loaded", "下载成功");
    store(sandbox, "k-installed", "安装成功");
    store(sandbox, "k-installing", "正在安装");
    // Not one path component: its files must not be looked for outside the directory.
    store(sandbox, "../victim", "下载失败");
    const QString packages = sandbox.packageDirectory();
    const QString victim = packages + "/../victim-data";
    QVERIFY(QDir().mkpath(victim));
    const QStringList all{"k-failed",    "k-broken",     "k-finished", "k-loaded",
                          "k-installed", "k-installing", "k-running"};
    for (const QString &key : all) {
        QVERIFY(QDir().mkpath(packages + '/' + key + "-1.0-1"));
        QFile file(packages + '/' + key + "-1.0-1/" + key + "-1.0-1.x86_64.rpm");
        QVERIFY(file.open(QIODevice::WriteOnly));
    }
    // Downloads of packages whose names begin with a cleared key; not theirs to remove.
    const QStringList others{"k-failed-extra-1.0-1", "k-loadedx-1.0-1", "k-loaded-1.0"};
    for (const QString &other : others)
        QVERIFY(QDir().mkpath(packages + '/' + other));

    LoadDialog dialog;
    dialog.addDatatotable(9, "运行", "k-running", "1M", "下载", 0);
    auto *label = dialog.findChild<QLabel *>(link);
    QTest::mousePress(label, Qt::LeftButton);

    QStringList left = keys(dialog);
    left.sort();
    remaining.sort();
    QCOMPARE(left, remaining);
    QStringList stored;
    for (const QString &row : records(sandbox, "loadrecord"))
        stored << row.section('|', 0, 0);
    stored.sort();
    QCOMPARE(stored, remaining);
    for (const QString &key : all)
        QCOMPARE(QFileInfo::exists(packages + '/' + key + "-1.0-1"), remaining.contains(key));
    for (const QString &other : others)
        QVERIFY2(QFileInfo::exists(packages + '/' + other), qPrintable(other));
    QVERIFY(QFileInfo::exists(victim));
}

void TestLoadDialog::cleanWithoutPackageDirectoryClearsRecordsOnly()
{
    Sandbox sandbox;
    sandbox.setConfig("pkgpath", "");
    store(sandbox, "k-failed", "下载失败");
    LoadDialog dialog;
    QTest::mousePress(dialog.findChild<QLabel *>("label_delvalid"), Qt::LeftButton);
    QCOMPARE(keys(dialog), QStringList());
    QCOMPARE(records(sandbox, "loadrecord"), QStringList());
    QCOMPARE(records(sandbox, "loadmanage"), QStringList());
}

void TestLoadDialog::cancelReportsTableCode_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<int>("newCode"); // given with modifyparament; 0 for none
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("oper");

    QTest::newRow("row's own code") << "cv-hello" << 0 << 6 << "一键安装";
    QTest::newRow("code changed later") << "cv-hello" << 11 << 11 << "升级";
    QTest::newRow("key without code") << "cv-nothing" << 0 << 0 << "下载";
}

void TestLoadDialog::cancelReportsTableCode()
{
    QFETCH(QString, key);
    QFETCH(int, newCode);
    QFETCH(int, code);
    QFETCH(QString, oper);

    Sandbox sandbox;
    LoadDialog dialog;
    QSignalSpy cancelled(&dialog, &LoadDialog::cancelDownLoadSignal);
    dialog.addDatatotable(6, "你好", "cv-hello", "1M", "一键安装", 0);
    if (newCode)
        dialog.modifyparament(key, newCode, oper);

    if (Items *items = dialog.itemOf(key)) {
        QCOMPARE(text(items, "pushButton_reload"), QString("取消下载"));
        QTest::mouseClick(qobject_cast<QPushButton *>(part(items, "pushButton_reload")),
                          Qt::LeftButton);
    } else {
        dialog.cancelLoadSlot(key, oper);
    }
    QCOMPARE(cancelled.count(), 1);
    QCOMPARE(cancelled.first(), QVariantList({code, oper, key}));
    QVERIFY(!keys(dialog).contains(key));
    QCOMPARE(records(sandbox, "loadrecord").isEmpty(), key == "cv-hello");
}

void TestLoadDialog::reloadRestartsFailedRow()
{
    Sandbox sandbox;
    store(sandbox, "cv-hello", "正在下载", "一键安装", 8);
    LoadDialog dialog;
    QSignalSpy again(&dialog, &LoadDialog::reDownLoadSignal);
    Items *items = dialog.itemOf("cv-hello");
    QCOMPARE(text(items, "pushButton_reload"), QString("重新下载"));
    QTest::mouseClick(qobject_cast<QPushButton *>(part(items, "pushButton_reload")),
                      Qt::LeftButton);

    QCOMPARE(again.count(), 1);
    QCOMPARE(again.first(), QVariantList({8, "cv-hello", "一键安装"}));
    QCOMPARE(items->state(), QString("正在下载"));
    QCOMPARE(text(items, "pushButton_reload"), QString("取消下载"));
    QVERIFY(shown(items, "dialogprogressBar") && !shown(items, "pushButton_cancel"));
    QCOMPARE(records(sandbox, "loadrecord"), QStringList{"cv-hello|正在下载|一键安装|8"});
    QCOMPARE(records(sandbox, "loadmanage"), QStringList{"cv-hello|正在下载|一键安装|8"});
}

void TestLoadDialog::removeButtonDropsRow()
{
    Sandbox sandbox;
    store(sandbox, "cv-hello", "下载成功");
    store(sandbox, "cv-editor", "安装成功");
    LoadDialog dialog;
    dialog.show();
    QTest::mouseClick(
        qobject_cast<QPushButton *>(part(dialog.itemOf("cv-hello"), "pushButton_cancel")),
        Qt::LeftButton);
    QCOMPARE(keys(dialog), QStringList{"cv-editor"});
    QCOMPARE(records(sandbox, "loadrecord"), QStringList{"cv-editor|安装成功|下载|1"});
    QCOMPARE(records(sandbox, "loadmanage"), QStringList{"cv-editor|安装成功|下载|1"});

    // The close button only hides the dialog.
    auto *close = dialog.findChild<QWidget *>("close");
    QTest::mouseClick(close, Qt::LeftButton, Qt::NoModifier, QPoint(3, 3));
    QVERIFY(dialog.isHidden());
}

QObject *createLoadDialogTests()
{
    return new TestLoadDialog;
}

#include "tst_loaddialog.moc"
