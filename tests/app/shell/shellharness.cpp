#include "shellharness.h"

#include "facade/clientdemon.h"
#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "queues/quitinstallthread.h"
#include "queues/updaterpmthread.h"
#include "records/paths.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "storage/queryresult.h"
#include "tasks/combobox.h"
#include "tasks/installitem.h"
#include "tasks/loaddialog.h"
#include "tests/support/freeport.h"
#include "tests/support/testrepository.h"
#include "vqs.h"
#include "yumcontrol.h"

#include <QApplication>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTableWidget>
#include <QTest>

#include <utility>

namespace
{

struct Display {
    const char *name;
    const char *exec;
};

// How the catalog presents the standard packages.
Display displayOf(const QString &package)
{
    if (package == QLatin1String("cv-hello"))
        return {"你好世界", "NULL"};
    if (package == QLatin1String("cv-editor"))
        return {"文本编辑器", "NULL"};
    if (package == QLatin1String("cv-player"))
        return {"影音播放器", "NULL"};
    return {"大型软件", "NULL"};
}

// A package no catalog of the tests offers: the store reads an empty RPM database as a failed
// listing and retries for ever, as no desktop it runs on has one.
const TestPackage &basePackage()
{
    static const TestPackage package{QStringLiteral("cv-base"), QStringLiteral("1.0"),
                                     QStringLiteral("1")};
    return package;
}

TestRepository &baseRepository()
{
    static TestRepository repository({basePackage()});
    return repository;
}

bool isListedInstalled(const QString &name)
{
    return QueryResult(Paths::localDatabase(),
                       QStringLiteral("select name from software where name=?"), {name})
               .rows() > 0;
}

} // namespace

ShellHarness::ShellHarness()
    : m_sandbox(&TestRepository::shared()), m_savedPort(qgetenv("VQS_PORT")),
      m_hadPort(qEnvironmentVariableIsSet("VQS_PORT")), m_savedBind(qgetenv("VQS_BIND")),
      m_hadBind(qEnvironmentVariableIsSet("VQS_BIND"))
{
    // Only the frames the test sends arrive: the window's own requests to the catalog server
    // address must not come back to its receiver as frames.
    useLoopbackTransport();
    if (m_sandbox.isValid() && baseRepository().isValid())
        m_baseInstalled =
            m_sandbox.rpm({QStringLiteral("-Uvh"), baseRepository().packageFile(basePackage())})
                .exitCode == 0;
}

bool ShellHarness::isValid() const
{
    return m_sandbox.isValid() && m_baseInstalled;
}

ShellHarness::~ShellHarness()
{
    stop();
    if (m_hadPort)
        qputenv("VQS_PORT", m_savedPort);
    else
        qunsetenv("VQS_PORT");
    if (m_hadBind)
        qputenv("VQS_BIND", m_savedBind);
    else
        qunsetenv("VQS_BIND");
}

YumControl &ShellHarness::yum()
{
    if (!m_yum)
        m_yum = std::make_unique<YumControl>(m_sandbox);
    return *m_yum;
}

MainWindow *ShellHarness::start()
{
    m_window = new MainWindow;
    m_window->show();
    // The start-up reload and the frame receiver share the snapshot file of rpm -qa; frames
    // are sent once the reload has read it, as the catalog server answers only after a second.
    if (!QTest::qWaitFor([] { return isListedInstalled(basePackage().name); }, 60000))
        qWarning("the installed packages were not read at start-up");
    return m_window;
}

void ShellHarness::stop()
{
    if (!m_window)
        return;
    if (m_yum) {
        m_yum->hold(false);
        m_yum->fail(false);
    }
    ClientDemon *demon = m_window->clientDemon();
    const QList<QueueWorker *> workers{m_window->uninstallWorker(), m_window->quickInstallWorker(),
                                       m_window->downloadWorker(), m_window->upgradeWorker(),
                                       m_window->installWorker()};
    LoadDialog *manager = m_window->downloadManager();
    delete m_window;
    m_window = nullptr;
    // What the window leaves to the end of the process ends here, before the next sandbox.
    delete demon;
    for (QueueWorker *worker : workers)
        worker->stop();
    for (QueueWorker *worker : workers) {
        worker->wait(120000);
        delete worker;
    }
    delete manager;
}

void ShellHarness::postFrame(const QString &frame)
{
    vqs_message_send("127.0.0.1", frame.toUtf8().constData());
}

bool ShellHarness::sendFrame(const QString &frame)
{
    QSignalSpy done(m_window->clientDemon(), &ClientDemon::recvUpdateAppSignal);
    postFrame(frame);
    // The receiver announces the refreshed install states, then the frame itself.
    return QTest::qWaitFor([&] { return done.count() >= 2; }, 60000);
}

bool ShellHarness::load(const QVector<CatalogEntry> &catalog)
{
    if (!sendFrame(catalogFrame(QStringLiteral("data_resp"), catalog)))
        return false;
    return QTest::qWaitFor([&] { return !m_window->isLoading(); }, 10000);
}

QTableWidget *ShellHarness::catalogTable() const
{
    return m_window->findChild<QTableWidget *>(QStringLiteral("tableWidget_allPackage"));
}

QTableWidget *ShellHarness::uninstallTable() const
{
    return m_window->findChild<QTableWidget *>(QStringLiteral("tableWidget_delete"));
}

QString ShellHarness::cell(QTableWidget *table, int row, int column) const
{
    return PackageTable::text(table, row, column);
}

int ShellHarness::rowOf(QTableWidget *table, const QString &name) const
{
    return PackageTable::findRow(table, PackageTable::ColumnDisplayName, name);
}

InstallItem *ShellHarness::controllerOf(QTableWidget *table, const QString &name) const
{
    return m_window->controllerAt(table, rowOf(table, name));
}

QVector<int> ShellHarness::visibleRows(QTableWidget *table) const
{
    QVector<int> rows;
    for (int row = 0; row < table->rowCount(); ++row)
        if (!table->isRowHidden(row))
            rows << row;
    return rows;
}

void ShellHarness::scrollToBottom(QTableWidget *table)
{
    // The bar learns its new range once the view has laid out the rows.
    QApplication::processEvents();
    QScrollBar *bar = table->verticalScrollBar();
    bar->setValue(bar->maximum());
    QApplication::processEvents();
}

bool ShellHarness::scrollUntilLoaded(QTableWidget *table, int rows)
{
    const int before = table->rowCount();
    for (int attempt = 0; attempt < 50 && table->rowCount() == before; ++attempt) {
        scrollToBottom(table);
        QTest::qWait(10);
    }
    return table->rowCount() == rows;
}

CatalogEntry ShellHarness::packageEntry(const QString &name, const QString &version,
                                        const QString &type)
{
    const Display display = displayOf(name);
    CatalogEntry entry;
    entry.name = QString::fromUtf8(display.name);
    entry.icon = name;
    entry.exec = QString::fromUtf8(display.exec);
    entry.version = version;
    for (const TestPackage &package : TestRepository::standardPackages())
        if (package.name == name && package.version == version)
            entry.rpm = package.name + '-' + package.version + '-' + package.release;
    entry.type = type;
    entry.size =
        name == QLatin1String("cv-big") ? QStringLiteral("4200000") : QStringLiteral("6000");
    entry.desc = QStringLiteral("测试软件包 ") + name;
    return entry;
}

void ShellHarness::choose(InstallItem *item, SelectorEntry entry)
{
    item->comboBox()->setCurrentIndex(entry);
    QTest::mouseClick(item->comboBox(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
}

MainWindow *ShellHarness::startLoaded(const QVector<CatalogEntry> &catalog,
                                      const QVector<TestPackage> &installed)
{
    for (const TestPackage &package : installed)
        if (!m_sandbox.install(package))
            return nullptr;
    MainWindow *window = start();
    return load(catalog) ? window : nullptr;
}

MainWindow *ShellHarness::startWithStandardInstalled()
{
    QVector<CatalogEntry> catalog;
    QVector<TestPackage> installed;
    for (const auto &[name, version] : {std::pair{"cv-hello", "1.0"}, std::pair{"cv-editor", "2.0"},
                                        std::pair{"cv-player", "3.2"}}) {
        catalog << packageEntry(QLatin1String(name), QLatin1String(version));
        installed << TestRepository::standardPackage(QLatin1String(name), QLatin1String(version));
    }
    return startLoaded(catalog, installed);
}

MainWindow *ShellHarness::startOnUninstallPage()
{
    MainWindow *window = startWithStandardInstalled();
    if (window)
        window->findChild<QPushButton *>(QStringLiteral("btn_packageDelete"))->click();
    return window;
}
