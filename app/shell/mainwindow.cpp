#include "shell/mainwindow.h"

#include "facade/catalogsync.h"
#include "facade/clientdemon.h"
#include "shell/catalogoperations.h"
#include "shell/catalogpage.h"
#include "shell/dialogpresenter.h"
#include "shell/helpviewer.h"
#include "shell/loadinganimation.h"
#include "shell/operationcontroller.h"
#include "shell/packagetable.h"
#include "shell/pagenavigator.h"
#include "shell/pagestate.h"
#include "shell/queueworkers.h"
#include "shell/rowfactory.h"
#include "shell/searchbox.h"
#include "shell/shelltexts.h"
#include "shell/stalenotice.h"
#include "shell/uninstallpage.h"
#include "shell/upgradepage.h"
#include "shell/windowframe.h"
#include "tasks/installitem.h"
#include "tasks/loaddialog.h"
#include "ui_mainwindow.h"
#include "widgets/iconlabel.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QTimer>

static_assert(int(MainWindow::PageHome) == int(PageState::Home) &&
                  int(MainWindow::PageUpgrade) == int(PageState::Upgrade) &&
                  int(MainWindow::PageUninstall) == int(PageState::Uninstall),
              "the window's page numbers are the pages'");

MainWindow::MainWindow(QWidget *parent)
    : QDialog(parent), ui(new Ui::MainWindow), m_frame(new WindowFrame(this))
{
    ui->setupUi(this);
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

    ui->label_allPackage->hide();
    ui->label_delPackage->hide();
    CatalogPage::setUpCategories(ui->listWidget);

    ui->stackedWidget->setCurrentWidget(ui->page_allPackage);
    ui->stackedWidget_content->setCurrentWidget(ui->page_loading);
    ui->lineEdit_search->setTextMargins(10, 0, 20, 0);
    ui->lineEdit_search->clearFocus();
    ui->label_5->installEventFilter(this);
    ui->btn_num->hide();

    CatalogPage::setUpTable(ui->tableWidget_allPackage);
    UninstallPage::setUpTable(ui->tableWidget_delete, ui->checkBox_delete);
    ui->listWidget->setCurrentRow(0);

    const QPoint loadingHome = PageNavigator::loadingPosition(PageHome);
    m_loading = new LoadingAnimation(ui->label_4, this);
    ui->label_4->move(loadingHome);
    ui->label_allPackage->setStyleSheet(ShellTexts::emptyTextStyle());
    ui->label_delPackage->setStyleSheet(ShellTexts::emptyTextStyle());

    m_demon = new ClientDemon;
    m_workers = std::make_unique<QueueWorkers>(QueueWorkers::started());

    m_loading->start(loadingHome);
    connect(m_loading->timer(), &QTimer::timeout, m_loading, &LoadingAnimation::step);

    m_dialogs = std::make_unique<DialogPresenter>(this);
    m_loadDialog = new LoadDialog;
    m_loadDialog->hide();

    createParts();
    connectParts();
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::createParts()
{
    m_help = std::make_unique<HelpViewer>();
    m_state = std::make_unique<PageState>();
    m_operations = std::make_unique<OperationController>(*m_workers, m_loadDialog, *m_dialogs);
    m_rows = std::make_unique<RowFactory>(m_demon, *m_operations, ui->tableWidget_delete);
    m_searchBox = std::make_unique<SearchBox>(ui->lineEdit_search, ui->label_5, this, *m_loading);
    m_catalogPage = std::make_unique<CatalogPage>(
        CatalogPage::Widgets{ui->stackedWidget, ui->page_allPackage, ui->stackedWidget_content,
                             ui->page_loading, ui->page_content, ui->listWidget,
                             ui->tableWidget_allPackage, ui->checkBox_update, ui->btn_update_soft,
                             ui->label_allPackage},
        *m_demon, *m_rows, *m_searchBox, *m_state);
    m_catalogOperations = std::make_unique<CatalogOperations>(
        *m_catalogPage, ui->tableWidget_allPackage, *m_operations, *m_dialogs);
    m_upgradePage = std::make_unique<UpgradePage>(
        UpgradePage::Widgets{ui->frame, ui->label_update_info, ui->pushButton_update, ui->btn_num},
        *m_demon, *m_catalogPage, *m_searchBox, *m_state, *m_dialogs, *m_operations);
    m_uninstallPage = std::make_unique<UninstallPage>(
        UninstallPage::Widgets{ui->stackedWidget, ui->page_packageDelete, ui->tableWidget_delete,
                               ui->checkBox_delete, ui->btn_delete_soft, ui->label_delete_info,
                               ui->label_delPackage},
        *m_demon, *m_rows, *m_searchBox, *m_state, *m_dialogs, *m_operations, *m_catalogPage);
    m_navigator = std::make_unique<PageNavigator>(
        PageNavigator::Buttons{ui->btn_allPackage, ui->btn_packageUpdate, ui->btn_packageDelete},
        *m_state, *m_searchBox, *m_loading, [demon = m_demon] { demon->updateData(); },
        *m_catalogPage, *m_upgradePage, *m_uninstallPage, *m_dialogs, m_loadDialog);
    m_navigator->setNavigationStyle(PageHome);
}

void MainWindow::connectParts()
{
    SearchBox *search = m_searchBox.get();
    CatalogPage *catalog = m_catalogPage.get();
    CatalogOperations *catalogOperations = m_catalogOperations.get();
    UpgradePage *upgrade = m_upgradePage.get();
    UninstallPage *uninstall = m_uninstallPage.get();
    PageNavigator *navigator = m_navigator.get();
    OperationController *operations = m_operations.get();

    // The title bar's help button has no slot of its name.
    connect(ui->pushButton, &QPushButton::clicked, this, [this] { m_help->open(); });

    // The search box and the navigation.
    connect(ui->lineEdit_search, &QLineEdit::returnPressed, search, &SearchBox::run);
    connect(ui->lineEdit_search, &LineEdit::keyOperationSignal, search, &SearchBox::keyPressed);
    connect(ui->label_5, &Label::mouseRightSignal, search, &SearchBox::showContextMenu);
    // The catalog table first: it is shown again whichever page searches.
    connect(search, &SearchBox::searchRequested, catalog, &CatalogPage::search);
    connect(search, &SearchBox::searchRequested, upgrade, &UpgradePage::search);
    connect(search, &SearchBox::searchRequested, uninstall, &UninstallPage::search);
    connect(ui->listWidget, &QListWidget::itemClicked, catalog,
            [navigator](QListWidgetItem *item) { navigator->showCategoryItem(item); });

    // The catalog from the facade.
    connect(m_demon, &ClientDemon::recvUpdateAppSignal, catalog,
            [navigator] { navigator->catalogArrived(); });
    connect(m_demon, &ClientDemon::updateAppVersion, catalog, &CatalogPage::applyChangedPackages);
    // A catalog not current is said where the category list leaves room.
    connect(m_demon->catalogSync(), &CatalogSync::catalogStale, new StaleNotice(ui->listWidget),
            &StaleNotice::setStale);
    connect(m_demon, &ClientDemon::updateEnd, this, &MainWindow::updateEndSlot);
    // Icons come beside the catalog: rows drawn before theirs arrived draw it now.
    connect(m_demon->catalogSync(), &CatalogSync::iconsFetched, this, [this] {
        IconLabel::imagesChanged();
        ui->tableWidget_allPackage->viewport()->update();
        ui->tableWidget_delete->viewport()->update();
    });

    // The tables.
    connect(ui->tableWidget_allPackage, &QTableWidget::cellClicked, upgrade,
            &UpgradePage::cellClicked);
    connect(ui->tableWidget_allPackage, &QTableWidget::itemChanged, upgrade,
            &UpgradePage::checkItemChanged);
    connect(ui->tableWidget_delete, &QTableWidget::itemChanged, uninstall,
            &UninstallPage::checkItemChanged);
    connect(ui->tableWidget_allPackage->verticalScrollBar(), &QScrollBar::valueChanged, catalog,
            &CatalogPage::scrolled);
    connect(ui->tableWidget_delete->verticalScrollBar(), &QScrollBar::valueChanged, uninstall,
            &UninstallPage::scrolled);

    // Between the pages.
    connect(catalog, &CatalogPage::homeViewShown, upgrade, &UpgradePage::hideHeader);
    connect(catalog, &CatalogPage::rowAdded, upgrade, &UpgradePage::rowAdded);
    connect(catalogOperations, &CatalogOperations::upgradeRefused, upgrade,
            &UpgradePage::forgetPending);
    connect(catalogOperations, &CatalogOperations::installed, uninstall,
            &UninstallPage::packageInstalled);
    connect(upgrade, &UpgradePage::upgraded, uninstall, &UninstallPage::refreshRow);
    // The catalog rows first, then the upgrade view and its count: as the catalog has the
    // package now.
    connect(uninstall, &UninstallPage::uninstalled, catalogOperations,
            &CatalogOperations::packageUninstalled);
    connect(uninstall, &UninstallPage::uninstalled, upgrade, &UpgradePage::packageUninstalled);

    // Package operations: the rows and the workers report to the controller, the controller to
    // the pages.
    for (QueueWorker *worker : m_workers->all())
        connect(worker, &QueueWorker::taskEnded, operations, &OperationController::taskEnded);
    // The download phases of the two workers that install what they fetched.
    connect(m_workers->quickInstall, &QuitInstallThread::downloadExecEnd, operations,
            &OperationController::downloadPhaseEnded);
    connect(m_workers->upgrade, &UpdateRpmThread::downloadExecEnd, operations,
            &OperationController::downloadPhaseEnded);
    connect(operations, &OperationController::taskStarted, catalogOperations,
            &CatalogOperations::taskStarted);
    connect(operations, &OperationController::taskStarted, uninstall, &UninstallPage::taskStarted);
    // The catalog keeps its scroll position for every result, before any page acts on one.
    connect(operations, &OperationController::taskFinished, catalogOperations,
            &CatalogOperations::taskFinished);
    connect(operations, &OperationController::taskFinished, upgrade, &UpgradePage::taskFinished);
    connect(operations, &OperationController::taskFinished, uninstall,
            &UninstallPage::taskFinished);
    connect(operations, &OperationController::downloadFinished, catalogOperations,
            &CatalogOperations::downloadFinished);
    connect(operations, &OperationController::taskCancelled, upgrade, &UpgradePage::taskCancelled);
    connect(m_loadDialog, &LoadDialog::cancelDownLoadSignal, catalogOperations,
            &CatalogOperations::cancelFromManager);
    connect(m_loadDialog, &LoadDialog::reDownLoadSignal, catalogOperations,
            &CatalogOperations::restart);
}

GetAuthThread *MainWindow::uninstallWorker() const
{
    return m_workers->uninstall;
}

QuitInstallThread *MainWindow::quickInstallWorker() const
{
    return m_workers->quickInstall;
}

DownloadThread *MainWindow::downloadWorker() const
{
    return m_workers->download;
}

UpdateRpmThread *MainWindow::upgradeWorker() const
{
    return m_workers->upgrade;
}

InstallRpmThread *MainWindow::installWorker() const
{
    return m_workers->install;
}

const QVector<RpmData> &MainWindow::waitingCatalogRecords() const
{
    return m_catalogPage->waiting();
}

const QVector<RpmData> &MainWindow::waitingInstalledRecords() const
{
    return m_uninstallPage->waiting();
}

int MainWindow::currentPage() const
{
    return m_state->page();
}

bool MainWindow::isLoading() const
{
    return m_loading->isRunning();
}

InstallItem *MainWindow::controllerAt(QTableWidget *table, int row) const
{
    return RowFactory::controllerAt(table, row);
}

void MainWindow::showMessage(const QString &text, bool hideOk)
{
    m_dialogs->showMessage(text, hideOk);
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    // The close button, the window manager and the end of a session all meet this guard: yum
    // or rpm cut off halfway leaves a package half installed.
    if (RowFactory::showsOperation(ui->tableWidget_allPackage) ||
        RowFactory::showsOperation(ui->tableWidget_delete)) {
        showMessage(QStringLiteral("目前还有程序正在操作，\n请勿关闭！"));
        event->ignore();
        return;
    }
    event->accept();
}

void MainWindow::paintEvent(QPaintEvent *)
{
    m_frame->paint();
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    m_frame->mousePressed(event);
    if (!ui->lineEdit_search->text().isEmpty())
        m_searchBox->empty();
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

// The documented interface: one-line forwarders. Nothing inside app/shell calls them; the form
// connects the on_… slots by name, and tests and the documented interface use the rest.

int MainWindow::insertAllPackageContent(RpmData data)
{
    return m_catalogPage->appendRow(data);
}
void MainWindow::initTableAllPackage()
{
    m_navigator->buildCatalog();
}
void MainWindow::getAllPackage()
{
    m_catalogPage->loadCatalog();
}
// The records come from the waiting list, which is what every caller passes.
void MainWindow::writeAllPackageTable(QVector<RpmData>)
{
    m_catalogPage->writeFirstBatch();
}
void MainWindow::getTypePackage(QTableWidget *, QString text)
{
    m_catalogPage->showCategory(text);
}
void MainWindow::searchAllTable(QVector<RpmData> results)
{
    // On the upgrade page the rows shown are that page's list.
    if (m_state->page() == PageState::Upgrade)
        m_upgradePage->showResults(results);
    else
        m_catalogPage->showResults(results);
}
void MainWindow::modifyTypeTableContent(RpmData data, int row)
{
    m_catalogPage->rewriteRow(
        m_state->currentTable() ? m_state->currentTable() : ui->tableWidget_allPackage, row, data);
}
void MainWindow::loadAllPackageNewData()
{
    m_catalogPage->loadMore();
}
QString MainWindow::star_decide(int stars)
{
    return PackageTable::starText(stars);
}
QString MainWindow::changeRpmSize(QString size)
{
    return PackageTable::sizeText(size);
}
void MainWindow::insertAllandTypeConent(QString name, QTableWidget *table, QString oper)
{
    m_catalogPage->setRowOperation(table, name, oper);
}
void MainWindow::loadUpdatePackageFromData()
{
    m_catalogPage->loadOneMore();
}
void MainWindow::getUpdatePackage()
{
    m_upgradePage->loadList();
}
void MainWindow::initTableUpdatePackage()
{
    m_upgradePage->loadList();
}
void MainWindow::getDeletePackage()
{
    m_uninstallPage->build();
}
void MainWindow::writeDeletePackageTable(QVector<RpmData>)
{
    m_uninstallPage->writeFirstBatch();
}
int MainWindow::insertDeleteContent(QString name, QTableWidget *table)
{
    return m_uninstallPage->appendRow(name, table);
}
void MainWindow::loadDelPackageNewData()
{
    m_uninstallPage->loadMore();
}
void MainWindow::searchDeleteTable(QVector<RpmData> results)
{
    m_uninstallPage->showResults(results);
}
void MainWindow::modifyDeleteTableWidget(QString name, QString)
{
    m_uninstallPage->refreshRow(name);
}

void MainWindow::on_btn_allPackage_clicked()
{
    m_navigator->showHome();
}
void MainWindow::on_btn_packageUpdate_clicked()
{
    m_navigator->showUpgrade();
}
void MainWindow::on_btn_packageDelete_clicked()
{
    m_navigator->showUninstall();
}
void MainWindow::goPage(QListWidgetItem *item)
{
    m_navigator->showCategoryItem(item);
}
void MainWindow::getUpdateNum(int)
{
    m_navigator->catalogArrived();
}
void MainWindow::updateAppSlot(QStringList packages)
{
    m_catalogPage->applyChangedPackages(packages);
}
void MainWindow::updateEndSlot(int) {}
void MainWindow::on_btn_close_clicked()
{
    close();
}
void MainWindow::reject() {}
void MainWindow::on_btn_min_clicked()
{
    showMinimized();
}
void MainWindow::on_btn_max_clicked()
{
    showMaximized();
}
void MainWindow::on_HelpButton_clicked()
{
    m_help->open();
}
void MainWindow::on_pushButton_download_clicked()
{
    m_navigator->showDownloadManager();
}
void MainWindow::updatePixmap()
{
    m_loading->step();
}
void MainWindow::mouseRightSlot(int x, int y)
{
    m_searchBox->showContextMenu(x, y);
}
void MainWindow::searchPackage()
{
    m_searchBox->run();
}
void MainWindow::on_btn_search_clicked()
{
    m_searchBox->run();
}
void MainWindow::keyOperationSlot()
{
    m_searchBox->keyPressed();
}
void MainWindow::on_lineEdit_search_textEdited(QString text)
{
    m_searchBox->textEdited(text);
}
void MainWindow::allPackageScrollChangedSlot(int value)
{
    m_catalogPage->scrolled(value);
}
void MainWindow::allPackageChangedSlot(int row, int column)
{
    m_upgradePage->cellClicked(row, column);
}
void MainWindow::allPackageItemClickedSlot(QTableWidgetItem *item)
{
    m_upgradePage->checkItemChanged(item);
}
void MainWindow::on_checkBox_update_clicked()
{
    m_upgradePage->selectAllClicked();
}
void MainWindow::on_btn_update_soft_clicked()
{
    m_upgradePage->upgradeSelected();
}
void MainWindow::execUpdateSlot()
{
    m_upgradePage->runBatch();
}
void MainWindow::on_pushButton_update_clicked()
{
    m_navigator->reloadCatalog();
}
void MainWindow::on_btn_update_down_clicked() {}
void MainWindow::delPackageScrollChangedSlot(int value)
{
    m_uninstallPage->scrolled(value);
}
void MainWindow::delPackageItemClickedSlot(QTableWidgetItem *item)
{
    m_uninstallPage->checkItemChanged(item);
}
void MainWindow::on_checkBox_delete_clicked()
{
    m_uninstallPage->selectAllClicked();
}
void MainWindow::on_btn_delete_soft_clicked()
{
    m_uninstallPage->uninstallSelected();
}
void MainWindow::execUninstallSlot(int result)
{
    m_uninstallPage->confirmationAnswered(result);
}
void MainWindow::on_btn_delete_down_clicked() {}
void MainWindow::openSoft(QString oper, int res, QString third, QString key)
{
    m_operations->taskEnded(oper, res, third, key);
}
void MainWindow::downloadEndSlot(QString oper, int res, QString third, QString key)
{
    m_operations->downloadPhaseEnded(oper, res, third, key);
}
void MainWindow::startExecSlot(QString oper)
{
    m_operations->taskStarting(oper);
}
bool MainWindow::isRunningSlot(int row, QTableWidget *table, QString oper, QString rpm,
                               bool mayProceed)
{
    return m_operations->request(row, table, oper, rpm, mayProceed);
}
void MainWindow::cancelDownLoadSlot(QString key)
{
    m_operations->cancel(key);
}
void MainWindow::progressSlot(QString key, int percent)
{
    m_operations->progress(key, percent);
}
void MainWindow::loadDialogCancelSlot(int row, QString oper, QString key)
{
    m_catalogOperations->cancelFromManager(row, oper, key);
}
void MainWindow::reDownLoadSlot(int row, QString key, QString oper)
{
    m_catalogOperations->restart(row, key, oper);
}
