#include "facade/clientdemon.h"
#include "shell/mainwindow.h"
#include "shell/myapplication.h"
#include "shell/packagetable.h"
#include "shellharness.h"
#include "tasks/combobox.h"
#include "tasks/installitem.h"
#include "tests/support/accountaccess.h"
#include "tests/support/freeport.h"
#include "tests/support/programcopy.h"
#include "tests/support/testrepository.h"
#include "widgets/lineedit.h"
#include "yumcontrol.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocalSocket>
#include <QMetaMethod>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

#ifndef CORVANE_PROGRAM
#error "CORVANE_PROGRAM must name the corvane program"
#endif

namespace
{

// The program started as a user would, confined to a root of its own.
class Program
{
public:
    // Under another uid the program runs from reachable, which that account can load.
    Program(const QString &root, const QString &tmp, const QString &uid,
            const ProgramCopy *reachable = nullptr)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (reachable)
            env.insert(QStringLiteral("LD_LIBRARY_PATH"), reachable->libraryPath());
        env.insert(QStringLiteral("CORVANE_ROOT"), root);
        env.insert(QStringLiteral("TMPDIR"), tmp);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("VQS_PORT"), QString::number(freePort()));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.setStandardOutputFile(QProcess::nullDevice());
        if (uid.isEmpty()) {
            m_process.start(QStringLiteral(CORVANE_PROGRAM), QStringList());
        } else {
            m_process.start(QStringLiteral("setpriv"),
                            {QStringLiteral("--reuid=") + uid, QStringLiteral("--regid=") + uid,
                             QStringLiteral("--clear-groups"), QStringLiteral("--"),
                             reachable ? reachable->program() : QStringLiteral(CORVANE_PROGRAM)});
        }
        m_process.waitForStarted();
    }
    ~Program()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished();
        }
    }
    QProcess &process() { return m_process; }

private:
    QProcess m_process;
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    // Signals and slots others reach by their meta-object index or as public slots.
    void establishedMetaMethods_data()
    {
        QTest::addColumn<bool>("facade"); // else the single-instance guard
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<int>("index"); // from the class's first own method; -1: any
        QTest::addColumn<int>("type");
        const int signal = QMetaMethod::Signal;
        QTest::newRow("recvUpdateAppSignal")
            << true << QByteArray("recvUpdateAppSignal(int)") << 0 << signal;
        QTest::newRow("updateAppVersion")
            << true << QByteArray("updateAppVersion(QStringList)") << 1 << signal;
        QTest::newRow("updateEnd") << true << QByteArray("updateEnd(int)") << 2 << signal;
        const int slot = QMetaMethod::Slot;
        QTest::newRow("recvServerDataSlot")
            << true << QByteArray("recvServerDataSlot(QString,QStringList)") << 3 << slot;
        QTest::newRow("sendMessageSlot") << true << QByteArray("sendMessageSlot()") << 4 << slot;
        QTest::newRow("getDataSlot") << true << QByteArray("getDataSlot(int)") << 5 << slot;
        QTest::newRow("newLocalConnection")
            << false << QByteArray("newLocalConnection()") << -1 << slot;
    }

    void establishedMetaMethods()
    {
        QFETCH(bool, facade);
        QFETCH(QByteArray, signature);
        QFETCH(int, index);
        QFETCH(int, type);
        const QMetaObject &meta =
            facade ? ClientDemon::staticMetaObject : MyApplication::staticMetaObject;
        const int found = meta.indexOfMethod(signature.constData());
        QVERIFY(found >= 0);
        if (index >= 0)
            QCOMPARE(found - meta.methodOffset(), index);
        QCOMPARE(int(meta.method(found).methodType()), type);
        QCOMPARE(meta.method(found).access(), QMetaMethod::Public);
    }

    // The facade forwards the end of the cache cleaning to the window, which takes it.
    void windowTakesTheFacadesUpdateEnd()
    {
        ShellHarness h;
        QVERIFY(h.isValid());
        MainWindow *window = h.start();
        QVERIFY(window);
        QVERIFY(QObject::disconnect(window->clientDemon(), &ClientDemon::updateEnd, window,
                                    &MainWindow::updateEndSlot));
    }

    void secondStartEndsAtOnce_data()
    {
        QTest::addColumn<QString>("uid");
        QTest::addColumn<bool>("firstCrashes");
        QTest::newRow("login user") << QString() << false;
        QTest::newRow("user id without an account") << QStringLiteral("54321") << false;
        QTest::newRow("after a crashed copy") << QString() << true;
    }

    void secondStartEndsAtOnce()
    {
        QFETCH(QString, uid);
        QFETCH(bool, firstCrashes);
        // Open to every user: the program may run under an id of its own.
        QTemporaryDir root;
        QTemporaryDir tmp;
        QVERIFY(root.isValid() && tmp.isValid());
        for (const QString &dir : {root.path(), tmp.path()})
            QVERIFY(QFile::setPermissions(dir, QFileDevice::Permissions(0x7777)));
        std::unique_ptr<ProgramCopy> reachable;
        if (!uid.isEmpty()) {
            const QString unreachable = AccountAccess::whyUnreachable(root.path());
            if (!unreachable.isEmpty())
                QSKIP(qPrintable(unreachable));
            // The build may lie in a folder only root can enter.
            reachable = std::make_unique<ProgramCopy>(QStringLiteral(CORVANE_PROGRAM));
            QVERIFY2(reachable->isValid(), qPrintable(reachable->errorString()));
        }
        const QString name =
            uid.isEmpty() ? MyApplication::instanceName() : QStringLiteral("security-white") + uid;
        const QString socket = tmp.path() + QLatin1Char('/') + name;

        std::unique_ptr<Program> first(new Program(root.path(), tmp.path(), uid, reachable.get()));
        // The socket file appears when it is bound, a moment before it takes connections: a
        // second copy started in between would find nobody there and take over.
        QTRY_VERIFY_WITH_TIMEOUT(isListening(socket), 60000);
        QCOMPARE(first->process().state(), QProcess::Running);
        if (firstCrashes) {
            // Killed outright, it leaves its socket file behind.
            first->process().kill();
            QVERIFY(first->process().waitForFinished());
            QVERIFY(QFile::exists(socket));
            first.reset(new Program(root.path(), tmp.path(), uid, reachable.get()));
            // The new copy takes over the name instead of taking the file for a running copy.
            QTRY_VERIFY_WITH_TIMEOUT(isListening(socket), 60000);
            QCOMPARE(first->process().state(), QProcess::Running);
        }

        Program second(root.path(), tmp.path(), uid, reachable.get());
        QVERIFY(second.process().waitForFinished(60000));
        QCOMPARE(second.process().exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.process().exitCode(), 0);
        QCOMPARE(first->process().state(), QProcess::Running);
    }

    void loadingPage()
    {
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        auto *content =
            window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget_content"));
        QVERIFY(window->isLoading());
        QCOMPARE(content->currentWidget()->objectName(), QStringLiteral("page_loading"));

        // While loading, navigation only empties the search box and the manager stays shut.
        auto *search = window->findChild<QLineEdit *>(QStringLiteral("lineEdit_search"));
        search->setText(QStringLiteral("abc"));
        window->findChild<QPushButton *>(QStringLiteral("btn_packageUpdate"))->click();
        QVERIFY(search->text().isEmpty());
        QCOMPARE(window->currentPage(), 0);
        window->findChild<QPushButton *>(QStringLiteral("pushButton_download"))->click();
        QCOMPARE(harness.dialogs().downloadManagerShown(), 0);

        QVERIFY(harness.load({ShellHarness::packageEntry("cv-hello", "1.0")}));
        QCOMPARE(content->currentWidget()->objectName(), QStringLiteral("page_content"));
        QCOMPARE(harness.catalogTable()->rowCount(), 1);
        window->findChild<QPushButton *>(QStringLiteral("pushButton_download"))->click();
        QCOMPARE(harness.dialogs().downloadManagerShown(), 1);
    }

    void searchWhileLoadingOnlyEmptiesTheBox_data()
    {
        QTest::addColumn<bool>("returnKey");
        QTest::newRow("Return") << true;
        QTest::newRow("search button") << false;
    }

    void searchWhileLoadingOnlyEmptiesTheBox()
    {
        QFETCH(bool, returnKey);
        ShellHarness loading;
        QVERIFY(loading.isValid());
        MainWindow *window = loading.start();
        auto *box = window->findChild<LineEdit *>(QStringLiteral("lineEdit_search"));
        QTest::keyClicks(box, QStringLiteral("hello"));
        QCOMPARE(box->text(), QStringLiteral("hello"));
        if (returnKey)
            QTest::keyClick(box, Qt::Key_Return);
        else
            window->findChild<QPushButton *>(QStringLiteral("btn_search"))->click();
        QVERIFY(box->text().isEmpty());
        QVERIFY(window->isLoading());
        QCOMPARE(window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget_content"))
                     ->currentWidget()
                     ->objectName(),
                 QStringLiteral("page_loading"));
        QCOMPARE(loading.catalogTable()->rowCount(), 0);
    }

    void refreshShowsLoadingUntilTheNextCatalog()
    {
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        QVERIFY(harness.load({ShellHarness::packageEntry("cv-hello", "1.0")}));
        window->findChild<QPushButton *>(QStringLiteral("btn_packageUpdate"))->click();
        window->findChild<QPushButton *>(QStringLiteral("pushButton_update"))->click();
        auto *content =
            window->findChild<QStackedWidget *>(QStringLiteral("stackedWidget_content"));
        QVERIFY(window->isLoading());
        QCOMPARE(content->currentWidget()->objectName(), QStringLiteral("page_loading"));
        QCOMPARE(window->findChild<QLabel *>(QStringLiteral("label_4"))->pos(), QPoint(400, 185));

        QVERIFY(harness.load({ShellHarness::packageEntry("cv-hello", "1.0"),
                              ShellHarness::packageEntry("cv-editor", "2.0")}));
        QCOMPARE(content->currentWidget()->objectName(), QStringLiteral("page_content"));
        QCOMPARE(window->currentPage(), 1);
        // The software the server added since start-up waits for its row, then gets it.
        QCOMPARE(harness.catalogTable()->rowCount(), 1);
        QCOMPARE(window->waitingCatalogRecords().size(), 1);
        window->findChild<QPushButton *>(QStringLiteral("btn_allPackage"))->click();
        QCOMPARE(harness.catalogTable()->rowCount(), 2);
        QCOMPARE(harness.visibleRows(harness.catalogTable()).size(), 2);
        QVERIFY(harness.rowOf(harness.catalogTable(), "文本编辑器") >= 0);
    }

    void categoryClickedWhileLoading()
    {
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        auto *list = window->findChild<QListWidget *>(QStringLiteral("listWidget"));
        QListWidgetItem *office = list->item(1);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(office).center());
        // Nothing to show yet.
        QCOMPARE(harness.catalogTable()->rowCount(), 0);

        QVector<CatalogEntry> catalog = generatedCatalog(30, [](int i) { return i % 3 + 1; });
        QVERIFY(harness.load(catalog));
        QCOMPARE(list->currentRow(), 1);
        QCOMPARE(office->text(), QStringLiteral("办公应用 (10)"));
        const QVector<int> rows = harness.visibleRows(harness.catalogTable());
        QCOMPARE(rows.size(), 10);
        for (int row : rows)
            QCOMPARE(harness.cell(harness.catalogTable(), row, PackageTable::ColumnType),
                     QStringLiteral("1"));
    }

    void dragMovesWithTheLeftButton_data()
    {
        QTest::addColumn<int>("button");
        QTest::addColumn<bool>("moves");
        QTest::newRow("left") << int(Qt::LeftButton) << true;
        QTest::newRow("right") << int(Qt::RightButton) << false;
    }

    void dragMovesWithTheLeftButton()
    {
        QFETCH(int, button);
        QFETCH(bool, moves);
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        window->move(100, 100);
        const QPoint start = window->pos();
        const QPoint press(300, 40);
        const QPoint delta(37, -21);
        const auto send = [&](QEvent::Type type, const QPoint &local, Qt::MouseButtons held) {
            QMouseEvent event(type, local, window->mapToGlobal(local),
                              type == QEvent::MouseMove ? Qt::NoButton : Qt::MouseButton(button),
                              held, Qt::NoModifier);
            QApplication::sendEvent(window, &event);
        };
        const QPoint globalPress = window->mapToGlobal(press);
        send(QEvent::MouseButtonPress, press, Qt::MouseButtons(button));
        // Positions are given globally: the window moves under the mouse.
        QMouseEvent move(QEvent::MouseMove, press + delta, globalPress + delta, Qt::NoButton,
                         Qt::MouseButtons(button), Qt::NoModifier);
        QApplication::sendEvent(window, &move);
        send(QEvent::MouseButtonRelease, press + delta, Qt::NoButton);
        QCOMPARE(window->pos(), moves ? start + delta : start);
    }

    void pressOnTheWindowEmptiesTheSearchBox()
    {
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        QVERIFY(harness.load({ShellHarness::packageEntry("cv-hello", "1.0")}));
        auto *search = window->findChild<QLineEdit *>(QStringLiteral("lineEdit_search"));
        search->setText(QStringLiteral("hello"));
        QTest::mousePress(window, Qt::LeftButton, Qt::NoModifier, QPoint(300, 40));
        QVERIFY(search->text().isEmpty());
    }

    void closingWhileDownloading_data()
    {
        QTest::addColumn<QString>("route");
        QTest::addColumn<bool>("closes");
        QTest::newRow("close button") << QStringLiteral("button") << true;
        QTest::newRow("window manager") << QStringLiteral("manager") << true;
        QTest::newRow("Escape in the search box") << QStringLiteral("search Escape") << false;
        QTest::newRow("Escape") << QStringLiteral("Escape") << false;
    }

    void closingWhileDownloading()
    {
        QFETCH(QString, route);
        QFETCH(bool, closes);
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        QVERIFY(harness.load({ShellHarness::packageEntry("cv-hello", "1.0")}));
        QVERIFY(QTest::qWaitForWindowExposed(window));
        YumControl &yum = harness.yum();
        QVERIFY(yum.isValid());
        yum.hold(true);
        const auto tryToClose = [&] {
            if (route == QLatin1String("button"))
                window->findChild<QPushButton *>(QStringLiteral("btn_close"))->click();
            else if (route == QLatin1String("manager"))
                window->close();
            else if (route == QLatin1String("search Escape"))
                QTest::keyClick(window->findChild<QLineEdit *>(QStringLiteral("lineEdit_search")),
                                Qt::Key_Escape);
            else
                QTest::keyClick(window, Qt::Key_Escape);
        };

        InstallItem *row = harness.controllerOf(harness.catalogTable(), "你好世界");
        QVERIFY(row);
        ShellHarness::choose(row, ShellHarness::DownloadEntry);
        QTRY_VERIFY_WITH_TIMEOUT(yum.waiting() == 1, 60000);

        tryToClose();
        const QStringList refused =
            closes ? QStringList{QStringLiteral("目前还有程序正在操作，\n请勿关闭！")}
                   : QStringList();
        QCOMPARE(harness.dialogs().messages(), refused);
        QVERIFY(window->isVisible());

        yum.hold(false);
        QTRY_VERIFY_WITH_TIMEOUT((row = harness.controllerOf(harness.catalogTable(), "你好世界")) &&
                                     !row->isBusy() &&
                                     row->operationButton()->text() == QStringLiteral("安装"),
                                 120000);
        // Escape never closes the store.
        tryToClose();
        QCOMPARE(window->isVisible(), !closes);
        QCOMPARE(harness.dialogs().messages(), refused);
    }

private:
    static bool isListening(const QString &socket)
    {
        QLocalSocket probe;
        probe.connectToServer(socket);
        return probe.waitForConnected(1000);
    }
};

QObject *createStartupTests()
{
    return new TestStartup;
}

#include "tst_startup.moc"
