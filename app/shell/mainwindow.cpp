#include "shell/mainwindow.h"

#include "facade/clientdemon.h"
#include "records/category.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "shell/catalogpage.h"
#include "shell/dialogpresenter.h"
#include "shell/loadinganimation.h"
#include "shell/operationresults.h"
#include "shell/operationrouter.h"
#include "shell/packagetable.h"
#include "shell/rowfactory.h"
#include "shell/searchbox.h"
#include "shell/shelltexts.h"
#include "shell/uninstallpage.h"
#include "shell/upgradepage.h"
#include "shell/windowframe.h"
#include "tasks/datathread.h"
#include "tasks/installitem.h"
#include "tasks/loaddialog.h"
#include "ui_mainwindow.h"
#include "widgets/iconlabel.h"

#include <QCloseEvent>
#include <QDebug>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>

namespace
{

const QPoint LoadingPosHome(315, 185);
const QPoint LoadingPosUpgrade(400, 185);

QString navigationStyle(const char *image, bool selected)
{
    return QStringLiteral("background-repeat:no-repeat;background-image: url(:/img/") +
           QLatin1String(image) +
           (selected ? QStringLiteral("-select.png)") : QStringLiteral("-unselect.png)"));
}

} // namespace

MainWindow::MainWindow(QWidget *parent)
    : QDialog(parent), ui(new Ui::MainWindow), m_frame(new WindowFrame(this))
{
    ui->setupUi(this);
    connect(ui->pushButton, &QPushButton::clicked, this, &MainWindow::on_HelpButton_clicked);
    ui->pushButton->setFocusPolicy(Qt::NoFocus);

    setWindowFlags(Qt::FramelessWindowHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setMouseTracking(true);
    ui->btn_min->move(826, 1);
    ui->btn_close->move(862, 1);
    ui->btn_delete_down->hide();
    ui->btn_update_down->hide();
    ui->btn_max->hide();
    ui->pushButton_download->setFocusPolicy(Qt::NoFocus);

    m_busyLock = QSharedPointer<QMutex>::create();

    ui->label_allPackage->hide();
    ui->label_delPackage->hide();
    CatalogPage::setUpCategories(ui->listWidget);

    ui->stackedWidget->setCurrentWidget(ui->page_allPackage);
    ui->stackedWidget_content->setCurrentWidget(ui->page_loading);
    setNavigationStyle(PageHome);
    ui->lineEdit_search->setTextMargins(10, 0, 20, 0);
    ui->lineEdit_search->clearFocus();
    ui->label_5->installEventFilter(this);
    ui->btn_num->hide();

    CatalogPage::setUpTable(ui->tableWidget_allPackage);
    UninstallPage::setUpTable(ui->tableWidget_delete, ui->checkBox_delete);
    ui->listWidget->setCurrentRow(0);

    m_loading = new LoadingAnimation(ui->label_4, this);
    ui->label_4->move(LoadingPosHome);
    ui->label_allPackage->setStyleSheet(ShellTexts::emptyTextStyle());
    ui->label_delPackage->setStyleSheet(ShellTexts::emptyTextStyle());

    m_demon = new ClientDemon;
    m_workers = QueueWorkers::started();

    m_loading->start(LoadingPosHome);
    connect(m_loading->timer(), &QTimer::timeout, this, &MainWindow::updatePixmap);

    m_dialogs = std::make_unique<DialogPresenter>(this);
    m_loadDialog = new LoadDialog;
    m_loadDialog->hide();

    m_rows = std::make_unique<RowFactory>(this, m_demon, ui->tableWidget_delete);
    m_searchBox = std::make_unique<SearchBox>(this, ui, m_demon);
    m_catalogPage = std::make_unique<CatalogPage>(this, ui, m_demon, *m_rows);
    m_upgradePage = std::make_unique<UpgradePage>(this, ui, m_demon, *m_catalogPage);
    m_uninstallPage = std::make_unique<UninstallPage>(this, ui, m_demon, *m_rows);
    m_router = std::make_unique<OperationRouter>(this, m_workers, m_loadDialog);
    m_results = std::make_unique<OperationResults>(this);

    connectSignals();
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::connectSignals()
{
    connect(ui->lineEdit_search, &QLineEdit::returnPressed, this, &MainWindow::searchPackage);
    connect(ui->lineEdit_search, &LineEdit::keyOperationSignal, this,
            &MainWindow::keyOperationSlot);
    connect(ui->label_5, &Label::mouseRightSignal, this, &MainWindow::mouseRightSlot);
    connect(ui->listWidget, &QListWidget::itemClicked, this, &MainWindow::goPage);

    connect(m_demon, &ClientDemon::recvUpdateAppSignal, this, &MainWindow::getUpdateNum);
    connect(m_demon, &ClientDemon::updateAppVersion, this, &MainWindow::updateAppSlot);
    connect(m_demon, &ClientDemon::updateEnd, this, &MainWindow::updateEndSlot);
    // Icons come beside the catalog: rows drawn before theirs arrived draw it now.
    connect(m_demon, &ClientDemon::iconsFetched, this, [this] {
        IconLabel::imagesChanged();
        ui->tableWidget_allPackage->viewport()->update();
        ui->tableWidget_delete->viewport()->update();
    });

    connect(uninstallWorker(), &GetAuthThread::uninstallExecEnd, this, &MainWindow::openSoft);
    connect(quickInstallWorker(), &QuitInstallThread::downloadExecEnd, this,
            &MainWindow::downloadEndSlot);
    connect(quickInstallWorker(), &QuitInstallThread::quickinstallExecEnd, this,
            &MainWindow::openSoft);
    connect(downloadWorker(), &DownloadThread::downloadExecEnd, this, &MainWindow::openSoft);
    connect(upgradeWorker(), &UpdateRpmThread::downloadExecEnd, this, &MainWindow::downloadEndSlot);
    connect(upgradeWorker(), &UpdateRpmThread::updateRpmExecEnd, this, &MainWindow::openSoft);
    connect(installWorker(), &InstallRpmThread::installExecEnd, this, &MainWindow::openSoft);

    connect(m_loadDialog, &LoadDialog::cancelDownLoadSignal, this,
            &MainWindow::loadDialogCancelSlot);
    connect(m_loadDialog, &LoadDialog::reDownLoadSignal, this, &MainWindow::reDownLoadSlot);

    connect(ui->tableWidget_allPackage, &QTableWidget::cellClicked, this,
            &MainWindow::allPackageChangedSlot);
    connect(ui->tableWidget_allPackage, &QTableWidget::itemChanged, this,
            &MainWindow::allPackageItemClickedSlot);
    connect(ui->tableWidget_delete, &QTableWidget::itemChanged, this,
            &MainWindow::delPackageItemClickedSlot);
    connect(ui->tableWidget_allPackage->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &MainWindow::allPackageScrollChangedSlot);
    connect(ui->tableWidget_delete->verticalScrollBar(), &QScrollBar::valueChanged, this,
            &MainWindow::delPackageScrollChangedSlot);
}

bool MainWindow::isLoading() const
{
    return m_loading->isRunning();
}

InstallItem *MainWindow::controllerAt(QTableWidget *table, int row) const
{
    if (row < 0 || row >= table->rowCount())
        return nullptr;
    return qobject_cast<InstallItem *>(table->cellWidget(row, PackageTable::ColumnOperation));
}

void MainWindow::askToUninstall(const QString &question)
{
    m_dialogs->ask(question, [this](int answer) { execUninstallSlot(answer); });
}

void MainWindow::setNavigationStyle(int page)
{
    ui->btn_allPackage->setStyleSheet(navigationStyle("shouye", page == PageHome));
    ui->btn_packageUpdate->setStyleSheet(navigationStyle("shengji", page == PageUpgrade));
    ui->btn_packageDelete->setStyleSheet(navigationStyle("xiezai", page == PageUninstall));
}

void MainWindow::leavePage(int page)
{
    m_searchBox->saveFor(m_page);
    m_page = page;
    setNavigationStyle(page);
}

void MainWindow::on_btn_allPackage_clicked()
{
    if (isLoading()) {
        emptySearchBox();
        return;
    }
    leavePage(PageHome);
    m_catalogPage->enter();
}

void MainWindow::on_btn_packageUpdate_clicked()
{
    if (isLoading()) {
        emptySearchBox();
        return;
    }
    leavePage(PageUpgrade);
    m_upgradePage->enter();
}

void MainWindow::on_btn_packageDelete_clicked()
{
    qDebug() << "*********************  on_btn_packageDelete_clicked()";
    emptySearchBox();
    on_btn_search_clicked();
    if (isLoading())
        return;
    leavePage(PageUninstall);
    m_uninstallPage->enter();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The close button, the window manager and the end of a session all meet this guard: yum
    // or rpm cut off halfway leaves a package half installed.
    if (m_router->operationShown({ui->tableWidget_allPackage, ui->tableWidget_delete})) {
        showMessage(QStringLiteral("目前还有程序正在操作，\n请勿关闭！"));
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::on_HelpButton_clicked()
{
    if (m_helpThread && !m_helpThread->isFinished())
        return;
    delete m_helpThread;
    m_helpThread = new DataThread(Quoting::shell(Paths::pdfViewer()) + QLatin1Char(' ') +
                                  Quoting::shell(Paths::helpDocument()));
    m_helpThread->start();
}

void MainWindow::on_pushButton_download_clicked()
{
    if (isLoading())
        return;
    m_dialogs->place(m_loadDialog);
    m_loadDialog->exec();
}

void MainWindow::updatePixmap()
{
    m_loading->step();
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    m_frame->mousePressed(event);
    if (!ui->lineEdit_search->text().isEmpty())
        emptySearchBox();
    QDialog::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    m_frame->mouseMoved(event);
    QDialog::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    m_frame->mouseReleased(event);
    QDialog::mouseReleaseEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    m_frame->resized();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->label_5 && event->type() == QEvent::MouseButtonPress)
        ui->lineEdit_search->setFocus(Qt::OtherFocusReason);
    return QDialog::eventFilter(watched, event);
}

void MainWindow::goPage(QListWidgetItem *item)
{
    if (isLoading()) {
        if (item)
            m_pendingCategory = ui->listWidget->row(item);
        return;
    }
    m_catalogPage->showCurrentCategory();
}

void MainWindow::modifyTypeTableContent(RpmData data, int row)
{
    m_catalogPage->rewriteRow(m_currentTable ? m_currentTable : ui->tableWidget_allPackage, row,
                              data);
}

void MainWindow::allPackageScrollChangedSlot(int value)
{
    m_catalogPage->lazyTable().scrolled(value, [this] { loadAllPackageNewData(); });
}

void MainWindow::getUpdateNum(int value)
{
    Q_UNUSED(value);
    qDebug() << "**********************  getUpdateNum";
    m_catalogPage->updateCategoryCounts();
    m_upgradePage->showBadge(m_demon->selectSoftware(1, QString(), QString()).size());
    if (!m_catalogPage->lazyTable().isBuilt()) {
        initTableAllPackage();
        m_catalogPage->lazyTable().setBuilt();
    } else {
        // Rows are made only from waiting records: without this, software the server pushed
        // after the first build would never get a row, and a package changed or removed
        // meanwhile would come back as it was.
        m_catalogPage->refreshWaitingRecords();
    }
    ui->stackedWidget->setCurrentWidget(ui->page_allPackage);
    ui->stackedWidget_content->setCurrentWidget(ui->page_content);
    m_loading->stop();
    qDebug() << "refresh... m_page" << m_page;
    if (m_page == PageHome)
        on_btn_allPackage_clicked();
    else if (m_page == PageUpgrade)
        on_btn_packageUpdate_clicked();
    else
        on_btn_packageDelete_clicked();
}

void MainWindow::on_pushButton_update_clicked()
{
    m_loading->start(m_page == PageUpgrade ? LoadingPosUpgrade : LoadingPosHome);
    ui->stackedWidget_content->setCurrentWidget(ui->page_loading);
    m_demon->updateData();
}

void MainWindow::delPackageScrollChangedSlot(int value)
{
    m_uninstallPage->lazyTable().scrolled(value, [this] { loadDelPackageNewData(); });
}

void MainWindow::progressSlot(QString key, int percent)
{
    m_loadDialog->progressSlot(key, percent);
}
