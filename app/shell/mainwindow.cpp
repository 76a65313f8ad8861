#include "shell/mainwindow.h"
#include "records/operationword.h"

#include "facade/clientdemon.h"
#include "queues/downloadthread.h"
#include "queues/getauththread.h"
#include "queues/installrpmthread.h"
#include "queues/quitinstallthread.h"
#include "queues/updaterpmthread.h"
#include "records/category.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "shell/packagetable.h"
#include "tasks/datathread.h"
#include "tasks/installitem.h"
#include "tasks/loaddialog.h"
#include "ui_comdialog.h"
#include "ui_mainwindow.h"
#include "widgets/comdialog.h"
#include "widgets/cycloprogress.h"

#include <QCheckBox>
#include <QDebug>
#include <QHeaderView>
#include <QMenu>
#include <QMouseEvent>
#include <QMutex>
#include <QPainter>
#include <QProgressBar>
#include <QScrollBar>
#include <QSet>
#include <QTimer>

#include <algorithm>
#include <syslog.h>

namespace
{

const QString OpenApp = OperationWord::openApp();
const QString Install = OperationWord::install();
const QString QuickInstall = OperationWord::quickInstall();
const QString Download = OperationWord::download();
const QString Upgrade = OperationWord::upgrade();
const QString Uninstall = OperationWord::uninstall();
const QString AllSoftware = QStringLiteral("全部软件");
const QString NoResult = QStringLiteral("没有相关软件包");
const QString Busy = QStringLiteral("1");
const QString Idle = QStringLiteral("0");

constexpr int LoadingIntervalMs = 100;
constexpr int LoadingFrames = 8;
constexpr int FirstBatch = 16;
constexpr int ScrollBatch = 11;
// A result list shows rows while fewer than this many are shown.
constexpr int ResultRows = 15;
constexpr int WindowWidth = 897;
constexpr int WindowHeight = 705;
const QPoint LoadingPosHome(315, 185);
const QPoint LoadingPosUpgrade(400, 185);

const QString HomeTableStyle =
    QStringLiteral("QTableWidget#tableWidget_allPackage{ border:none; }");
const QString UpgradeTableStyle = QStringLiteral(
    "QTableWidget#tableWidget_allPackage{ border-left:none; border-right:none;border-top:none;"
    "border-bottom:1px solid #bfbfbf;}");
const QString EmptyTextStyle = QStringLiteral("font-size:15px;color:#a4a4a4;");

const char *const CategoryIcons[] = {
    ":/img/all_app.png",     ":/img/office_app.png",   ":/img/program_app.png",
    ":/img/industy_app.png", ":/img/teach_app.png",    ":/img/tools_app.png",
    ":/img/video_app.png",   ":/img/image_app.png",    ":/img/network_app.png",
    ":/img/system_app.png",  ":/img/compress_app.png", ":/img/audio_app.png",
    ":/img/game_app.png",    ":/img/other_app.png",
};

// Row 0 of the category list is every category; the others are the codes 1..13.
QString categoryName(int row)
{
    return row <= 0 ? AllSoftware : Category::name(row);
}

QString countText(const QString &name, int count)
{
    return name + QStringLiteral(" (") + QString::number(count) + QLatin1Char(')');
}

QString navigationStyle(const char *image, bool selected)
{
    return QStringLiteral("background-repeat:no-repeat;background-image: url(:/img/") +
           QLatin1String(image) +
           (selected ? QStringLiteral("-select.png)") : QStringLiteral("-unselect.png)"));
}

// Checked when every counted row is ticked, unchecked when none is, partly otherwise.
Qt::CheckState selectionState(const QTableWidget *table, bool visibleOnly, Qt::CheckState empty)
{
    int rows = 0;
    int checked = 0;
    for (int row = 0; row < table->rowCount(); ++row) {
        if (visibleOnly && table->isRowHidden(row))
            continue;
        ++rows;
        if (PackageTable::isChecked(table, row))
            ++checked;
    }
    if (rows == 0)
        return empty;
    if (checked == rows)
        return Qt::Checked;
    return checked == 0 ? Qt::Unchecked : Qt::PartiallyChecked;
}

} // namespace

MainWindow::MainWindow(QWidget *parent) : QDialog(parent), ui(new Ui::MainWindow)
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

    m_lineEdit_all.clear();
    m_lineEdit_update.clear();
    m_busyLock = QSharedPointer<QMutex>::create();

    ui->label_allPackage->hide();
    ui->label_delPackage->hide();
    setUpCategories();

    ui->stackedWidget->setCurrentWidget(ui->page_allPackage);
    ui->stackedWidget_content->setCurrentWidget(ui->page_loading);
    setNavigationStyle(HomePage);
    ui->lineEdit_search->setTextMargins(10, 0, 20, 0);
    ui->lineEdit_search->clearFocus();
    ui->label_5->installEventFilter(this);
    ui->btn_num->hide();

    setUpTables();
    ui->listWidget->setCurrentRow(0);

    ui->label_4->setPixmap(QPixmap(QStringLiteral(":/img/progress_1.png")));
    ui->label_4->setFixedSize(106, 105);
    ui->label_4->move(LoadingPosHome);
    ui->label_allPackage->setStyleSheet(EmptyTextStyle);
    ui->label_delPackage->setStyleSheet(EmptyTextStyle);

    m_demon = new ClientDemon;
    m_getAuthThread = new GetAuthThread;
    m_getAuthThread->start();
    m_quitInstallThread = new QuitInstallThread;
    m_quitInstallThread->start();
    m_downloadThread = new DownloadThread;
    m_downloadThread->start();
    m_updateRpmThread = new UpdateRpmThread;
    m_updateRpmThread->start();
    m_installRpmThread = new InstallRpmThread;
    m_installRpmThread->start();

    m_loadingTimer = new QTimer(this);
    m_loadingTimer->start(LoadingIntervalMs);
    connect(m_loadingTimer, &QTimer::timeout, this, &MainWindow::updatePixmap);

    m_dialog = QSharedPointer<comDialog>(new comDialog);
    m_loadDialog = new LoadDialog;
    m_loadDialog->hide();

    connectSignals();
}

MainWindow::~MainWindow()
{
    delete ui;
}

void MainWindow::setUpCategories()
{
    ui->listWidget->clear();
    for (int row = 0; row <= Category::Count; ++row)
        new QListWidgetItem(QIcon(QString::fromLatin1(CategoryIcons[row])), categoryName(row),
                            ui->listWidget, row);
    ui->listWidget->setFocusPolicy(Qt::NoFocus);
}

void MainWindow::setUpTables()
{
    PackageTable::configure(ui->tableWidget_allPackage,
                            {QString(), QString(), QString(), QStringLiteral("软件名称"),
                             QStringLiteral("版本"), QStringLiteral("大小"),
                             QStringLiteral("        操作"), QStringLiteral("rpm"),
                             QStringLiteral("icon"), QStringLiteral("exe"), QStringLiteral("type"),
                             QStringLiteral("name"), QStringLiteral("state")},
                            {20, 40, 80, 220, 150, 80, 140});
    ui->tableWidget_allPackage->setStyleSheet(HomeTableStyle);
    ui->tableWidget_allPackage->hideColumn(PackageTable::ColumnSpacer);
    ui->tableWidget_allPackage->hideColumn(PackageTable::ColumnCheck);

    PackageTable::configure(ui->tableWidget_delete,
                            {QString(), QString(), QStringLiteral("软件名称"), QString(),
                             QStringLiteral("版本"), QStringLiteral("大小"),
                             QStringLiteral("        操作"), QStringLiteral("rpm"),
                             QStringLiteral("icon"), QStringLiteral("exe"), QStringLiteral("type"),
                             QStringLiteral("name"), QStringLiteral("state")},
                            {20, 40, 80, 280, 170, 140, 120});
    ui->tableWidget_delete->setFocusPolicy(Qt::NoFocus);
    ui->checkBox_delete->setCheckState(Qt::Unchecked);
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

    connect(m_getAuthThread, &GetAuthThread::uninstallExecEnd, this, &MainWindow::openSoft);
    connect(m_quitInstallThread, &QuitInstallThread::downloadExecEnd, this,
            &MainWindow::downloadEndSlot);
    connect(m_quitInstallThread, &QuitInstallThread::quickinstallExecEnd, this,
            &MainWindow::openSoft);
    connect(m_downloadThread, &DownloadThread::downloadExecEnd, this, &MainWindow::openSoft);
    connect(m_updateRpmThread, &UpdateRpmThread::downloadExecEnd, this,
            &MainWindow::downloadEndSlot);
    connect(m_updateRpmThread, &UpdateRpmThread::updateRpmExecEnd, this, &MainWindow::openSoft);
    connect(m_installRpmThread, &InstallRpmThread::installExecEnd, this, &MainWindow::openSoft);

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
    return m_loadingTimer && m_loadingTimer->isActive();
}

InstallItem *MainWindow::controllerAt(QTableWidget *table, int row) const
{
    if (row < 0 || row >= table->rowCount())
        return nullptr;
    return qobject_cast<InstallItem *>(table->cellWidget(row, PackageTable::ColumnOperation));
}

// ---------------------------------------------------------------------------------------------
// Window frame

void MainWindow::setNavigationStyle(int page)
{
    ui->btn_allPackage->setStyleSheet(navigationStyle("shouye", page == HomePage));
    ui->btn_packageUpdate->setStyleSheet(navigationStyle("shengji", page == UpgradePage));
    ui->btn_packageDelete->setStyleSheet(navigationStyle("xiezai", page == UninstallPage));
}

void MainWindow::leavePage(int page)
{
    if (m_page == HomePage)
        m_lineEdit_all = ui->lineEdit_search->text();
    else if (m_page == UpgradePage)
        m_lineEdit_update = ui->lineEdit_search->text();
    m_page = page;
    setNavigationStyle(page);
}

void MainWindow::emptySearchBox()
{
    if (!ui->lineEdit_search->text().isEmpty())
        ui->lineEdit_search->clear();
    // The hint stands for an empty box.
    ui->label_5->show();
}

void MainWindow::setUpgradeHeaderVisible(bool visible)
{
    ui->label_update_info->setVisible(visible);
    ui->pushButton_update->setVisible(visible);
}

void MainWindow::setUpgradeCount(int count)
{
    ui->label_update_info->setText(QStringLiteral("     总共") + QString::number(count) +
                                   QStringLiteral("款软件可更新"));
    if (count < 1) {
        ui->btn_num->hide();
    } else {
        ui->btn_num->setText(QString::number(count));
        ui->btn_num->show();
    }
}

void MainWindow::refreshUpgradeCount()
{
    setUpgradeCount(m_demon->selectSoftware(1, QString(), QString()).size());
}

void MainWindow::placeDialog(QDialog *dialog)
{
    dialog->move(x() + width() / 4, y() + height() / 4);
}

void MainWindow::showMessage(const QString &text, bool hideOk)
{
    Ui::comDialog *form = m_dialog->ui;
    form->label_dialog_info->setText(tr(text.toUtf8().constData()));
    // The one dialog serves every message: each decides afresh which button it offers.
    form->pushButton_ok->show();
    form->pushButton_cancel->show();
    if (hideOk)
        m_dialog->hideOkButton();
    else
        m_dialog->hideCancelButton();
    placeDialog(m_dialog.data());
    m_dialog->exec();
}

void MainWindow::on_btn_close_clicked()
{
    for (QTableWidget *table : {ui->tableWidget_allPackage, ui->tableWidget_delete}) {
        for (int row = 0; row < table->rowCount(); ++row) {
            if (PackageTable::text(table, row, PackageTable::ColumnState) != Busy)
                continue;
            InstallItem *item = controllerAt(table, row);
            if (item && item->isBusy() &&
                (!item->progressBar()->isHidden() || !item->cycloProgress()->isHidden())) {
                showMessage(QStringLiteral("目前还有程序正在操作，\n请勿关闭！"));
                return;
            }
            PackageTable::setText(table, row, PackageTable::ColumnState, Idle);
        }
    }
    close();
}

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
    placeDialog(m_loadDialog);
    m_loadDialog->exec();
}

void MainWindow::updatePixmap()
{
    if (++m_frame > LoadingFrames) {
        m_frame = 1;
        ++m_cycles;
    }
    ui->label_4->setPixmap(
        QPixmap(QStringLiteral(":/img/progress_") + QString::number(m_frame) + ".png"));
}

void MainWindow::mouseRightSlot(int x, int y)
{
    QMenu *menu = ui->lineEdit_search->createStandardContextMenu();
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(QPoint(ui->lineEdit_search->x() + x + this->x() + 16,
                       ui->lineEdit_search->y() + y + this->y() + 3));
}

void MainWindow::updateEndSlot(int value)
{
    // The facade forwards the cache cleaning's end; nothing here depends on it.
    Q_UNUSED(value);
}

void MainWindow::paintEvent(QPaintEvent *event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.setPen(QPen(QColor(128, 128, 128), 2, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin));
    painter.drawRoundedRect(QRect(0, 0, width() - 1, height() - 1), 0, 0);
}

void MainWindow::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_dragPosition = event->globalPos();
    }
    if (!ui->lineEdit_search->text().isEmpty())
        emptySearchBox();
    QDialog::mousePressEvent(event);
}

void MainWindow::mouseMoveEvent(QMouseEvent *event)
{
    if ((event->buttons() & Qt::LeftButton) && m_dragging) {
        move(pos() + event->globalPos() - m_dragPosition);
        m_dragPosition = event->globalPos();
    }
    QDialog::mouseMoveEvent(event);
}

void MainWindow::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_dragging = false;
    QDialog::mouseReleaseEvent(event);
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QDialog::resizeEvent(event);
    if (height() > WindowHeight && width() > WindowWidth) {
        showNormal();
        resize(WindowWidth, WindowHeight);
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->label_5 && event->type() == QEvent::MouseButtonPress)
        ui->lineEdit_search->setFocus(Qt::OtherFocusReason);
    return QDialog::eventFilter(watched, event);
}

// ---------------------------------------------------------------------------------------------
// Rows

InstallItem *MainWindow::createController(const RpmData &data, const QStringList &choices,
                                          const QString &text, int row, QTableWidget *table)
{
    auto *item = new InstallItem(m_demon, data, choices, text, row, table);
    connect(item, &InstallItem::execTaskSignal, this, &MainWindow::openSoft);
    connect(item, &InstallItem::startExecSignal, this, &MainWindow::startExecSlot);
    // The controller reads the answer back, so the call must be direct.
    connect(item, &InstallItem::isRunningSignal, this, &MainWindow::isRunningSlot,
            Qt::DirectConnection);
    connect(item, &InstallItem::cancelDownLoadSignal, this, &MainWindow::cancelDownLoadSlot);
    connect(item, &InstallItem::progressSignal, this, &MainWindow::progressSlot);
    return item;
}

InstallItem *MainWindow::controllerFor(const RpmData &data, int row, QTableWidget *table)
{
    if (table == ui->tableWidget_delete)
        return createController(data, {}, Uninstall, row, table);
    switch (data.m_state) {
    case 0:
        return createController(data, {QuickInstall, Download}, QString(), row, table);
    case 1:
        return createController(data, {}, Upgrade, row, table);
    case 2:
        return createController(data, {}, OpenApp, row, table);
    case 3:
        return createController(data, {}, Install, row, table);
    default:
        return nullptr;
    }
}

void MainWindow::setCheckBox(QTableWidget *table, int row, bool checked, bool *guard)
{
    *guard = false;
    PackageTable::setCheckItem(table, row, checked);
    *guard = true;
}

int MainWindow::appendCatalogRow(const RpmData &data, bool checked, bool trackUpgradable)
{
    QTableWidget *table = ui->tableWidget_allPackage;
    const int row = table->rowCount();
    table->insertRow(row);
    if (trackUpgradable && data.m_state == 1)
        m_updatePackage_row.append(row);
    m_allPackage_row.append(row);
    setCheckBox(table, row, checked, &m_allInsertGuard);
    PackageTable::fillRow(table, row, data, controllerFor(data, row, table));
    return row;
}

int MainWindow::appendDeleteRow(QTableWidget *table, const RpmData &data, bool checked)
{
    const int row = table->rowCount();
    table->insertRow(row);
    setCheckBox(table, row, checked, &m_delInsertGuard);
    PackageTable::fillRow(table, row, data, createController(data, {}, Uninstall, row, table));
    return row;
}

void MainWindow::rewriteRow(QTableWidget *table, int row, const RpmData &data)
{
    PackageTable::fillRow(table, row, data, controllerFor(data, row, table));
}

int MainWindow::findWaiting(const QVector<RpmData> &list, const QString &name,
                            const QString &rpm) const
{
    for (int i = 0; i < list.size(); ++i)
        if (list.at(i).m_name == name && list.at(i).m_rpm == rpm)
            return i;
    return -1;
}

RpmData MainWindow::catalogRecord(const QString &name)
{
    // The list query gives the install state as the pages show it (upgradable, downloaded);
    // a lookup by name only tells installed from not installed.
    const QVector<RpmData> records = m_demon->selectSoftware(0, QString(), QString());
    for (const RpmData &record : records)
        if (record.m_name == name)
            return record;
    return RpmData();
}

RpmData MainWindow::recordFromRow(QTableWidget *table, int row) const
{
    RpmData data;
    data.m_rpm = PackageTable::text(table, row, PackageTable::ColumnRpm);
    data.m_icon = PackageTable::text(table, row, PackageTable::ColumnKey);
    data.m_exec = PackageTable::text(table, row, PackageTable::ColumnExec);
    data.m_type = PackageTable::text(table, row, PackageTable::ColumnType);
    data.m_name = PackageTable::text(table, row, PackageTable::ColumnDisplayName);
    data.m_version = PackageTable::text(table, row, PackageTable::ColumnVersion);
    return data;
}

bool MainWindow::isRowVisible(QTableWidget *table, int row) const
{
    return !table->isRowHidden(row);
}

void MainWindow::setSelectAllBox(QCheckBox *box, Qt::CheckState state, bool *guard)
{
    *guard = false;
    box->setCheckState(state);
    *guard = true;
}

QString MainWindow::star_decide(int stars)
{
    return PackageTable::starText(stars);
}

QString MainWindow::changeRpmSize(QString size)
{
    return PackageTable::sizeText(size);
}

// ---------------------------------------------------------------------------------------------
// Catalog pages

int MainWindow::insertAllPackageContent(RpmData data)
{
    qDebug() << "****** insertAllPackageContent  start***************";
    const bool checked = ui->checkBox_update->checkState() == Qt::Checked;
    const int row = appendCatalogRow(data, checked, true);
    qDebug() << "****** insertAllPackageContent  end***************";
    return row;
}

void MainWindow::initTableAllPackage()
{
    QListWidgetItem *pending =
        m_pendingCategory >= 0 ? ui->listWidget->item(m_pendingCategory) : nullptr;
    ui->listWidget->setCurrentRow(pending ? m_pendingCategory : 0);
    getAllPackage();
    if (pending)
        goPage(pending);
}

void MainWindow::getAllPackage()
{
    qDebug() << "************************** getAllPackage()";
    ui->frame->hide();
    ui->tableWidget_allPackage->hideColumn(PackageTable::ColumnSpacer);
    ui->tableWidget_allPackage->hideColumn(PackageTable::ColumnCheck);
    ui->tableWidget_allPackage->clearContents();
    setUpgradeHeaderVisible(false);
    all_data = m_demon->selectSoftware(0, QString(), QString());
    syslog(LOG_ERR, "************************** getAllPackage***********   size=%d\n",
           all_data.size());
    ui->listWidget->item(0)->setText(countText(AllSoftware, all_data.size()));
    writeAllPackageTable(all_data);
}

void MainWindow::writeAllPackageTable(QVector<RpmData> data)
{
    // The records come from all_data, which is what every caller passes.
    Q_UNUSED(data);
    for (int i = 0; i < FirstBatch && !all_data.isEmpty(); ++i) {
        const RpmData record = all_data.first();
        appendCatalogRow(record, false, false);
        qDebug() << "icon name=" << Paths::iconDirectory() + record.m_icon;
        all_data.removeFirst();
    }
}

void MainWindow::goPage(QListWidgetItem *item)
{
    if (isLoading()) {
        if (item)
            m_pendingCategory = ui->listWidget->row(item);
        return;
    }
    if (!ui->lineEdit_search->text().isEmpty())
        emptySearchBox();
    QListWidgetItem *current = ui->listWidget->currentItem();
    if (!current)
        current = ui->listWidget->item(0);
    m_currentTable = ui->tableWidget_allPackage;
    getTypePackage(ui->tableWidget_allPackage, current->text());
    ui->stackedWidget_content->setCurrentWidget(ui->page_content);
}

void MainWindow::getTypePackage(QTableWidget *table, QString text)
{
    Q_UNUSED(table);
    const QString category = text.section(QLatin1Char(' '), 0, 0);
    const QVector<RpmData> records =
        m_demon->selectSoftware(0, category, ui->lineEdit_search->text());
    int row = 1;
    for (int i = 0; i <= Category::Count; ++i) {
        if (text.contains(categoryName(i))) {
            row = i;
            break;
        }
    }
    ui->listWidget->item(row)->setText(countText(category, records.size()));
    m_currentTable = ui->tableWidget_allPackage;
    qDebug() << "size=" << records.size();
    searchAllTable(records);
}

void MainWindow::searchAllTable(QVector<RpmData> results)
{
    QTableWidget *table = ui->tableWidget_allPackage;
    m_allRestore = true;
    if (m_page == HomePage)
        m_allPackage_row.clear();
    else if (m_page == UpgradePage)
        m_updatePackage_row.clear();
    table->show();

    if (results.isEmpty()) {
        ui->label_allPackage->setText(NoResult);
        ui->label_allPackage->show();
        table->hide();
        ui->checkBox_update->hide();
        ui->btn_update_soft->hide();
        return;
    }
    ui->label_allPackage->hide();
    ui->checkBox_update->show();
    ui->btn_update_soft->show();
    m_currentTable = table;
    for (int row = 0; row < table->rowCount(); ++row)
        table->hideRow(row);

    QList<int> &pageRows = m_page == UpgradePage ? m_updatePackage_row : m_allPackage_row;
    QHash<QString, QVector<int>> rowsByName =
        PackageTable::rowsByText(table, PackageTable::ColumnDisplayName);
    int shown = 0;
    for (const RpmData &record : results) {
        for (int row : rowsByName.value(record.m_name)) {
            pageRows.append(row);
            table->showRow(row);
            ++shown;
            if (PackageTable::text(table, row, PackageTable::ColumnRpm) == record.m_rpm ||
                PackageTable::text(table, row, PackageTable::ColumnState) == Busy)
                break;
            // The server changed the package: the idle row takes the new record.
            modifyTypeTableContent(record, row);
        }
        while (shown <= ResultRows) {
            const int index = findWaiting(all_data, record.m_name, record.m_rpm);
            if (index < 0)
                break;
            const int row = insertAllPackageContent(all_data.at(index));
            rowsByName[PackageTable::text(table, row, PackageTable::ColumnDisplayName)].append(row);
            table->showRow(row);
            ++shown;
            all_data.remove(index);
        }
    }
}

void MainWindow::modifyTypeTableContent(RpmData data, int row)
{
    rewriteRow(m_currentTable ? m_currentTable : ui->tableWidget_allPackage, row, data);
}

void MainWindow::allPackageScrollChangedSlot(int value)
{
    QScrollBar *bar = ui->tableWidget_allPackage->verticalScrollBar();
    if (m_allRestore) {
        m_allRestore = false;
        bar->setValue(m_allPackage_value);
        return;
    }
    m_allPackage_value = value;
    syslog(LOG_ERR,
           "***********allPackageScrollChangedSlot***************value=%d,m_allPackage_max=%d,"
           "all_data.size=%d",
           value, bar->maximum(), all_data.size());
    if (value == bar->maximum() && !all_data.isEmpty()) {
        m_allRestore = true;
        loadAllPackageNewData();
    }
}

void MainWindow::loadAllPackageNewData()
{
    m_allRestore = true;
    int row = ui->listWidget->currentRow();
    if (row < 0)
        row = 0;
    const QListWidgetItem *item = ui->listWidget->item(row);
    // The upgrade page lists every upgradable package whatever category the hidden list holds.
    const QString code =
        (row == 0 || m_page == UpgradePage || !item) ? QString() : QString::number(item->type());
    const QString text = ui->lineEdit_search->text();
    int added = 0;
    for (int i = 0; i < all_data.size() && added < ScrollBatch;) {
        const RpmData record = all_data.at(i);
        const bool qualifies = (text.isEmpty() || record.m_name.contains(text)) &&
                               (code.isEmpty() || record.m_type == code) &&
                               (m_page != UpgradePage || record.m_state == 1);
        if (!qualifies) {
            ++i;
            continue;
        }
        insertAllPackageContent(record);
        if (m_page == UpgradePage)
            ++m_updateRowsPresent;
        all_data.remove(i);
        ++added;
    }
}

void MainWindow::on_btn_allPackage_clicked()
{
    if (isLoading()) {
        emptySearchBox();
        return;
    }
    leavePage(HomePage);
    QTableWidget *table = ui->tableWidget_allPackage;
    table->hideColumn(PackageTable::ColumnSpacer);
    table->hideColumn(PackageTable::ColumnCheck);
    table->setColumnWidth(PackageTable::ColumnName, 220);
    table->setColumnWidth(PackageTable::ColumnVersion, 150);
    table->setColumnWidth(PackageTable::ColumnSize, 80);
    table->setStyleSheet(HomeTableStyle);
    ui->frame->hide();
    setUpgradeHeaderVisible(false);
    ui->listWidget->show();
    ui->stackedWidget->setCurrentWidget(ui->page_allPackage);
    ui->stackedWidget_content->setCurrentWidget(ui->page_content);

    ui->lineEdit_search->setText(m_lineEdit_all);
    ui->label_5->setVisible(m_lineEdit_all.isEmpty());

    m_currentTable = table;
    qDebug() << "ui->tableWidget_allPackage->rowCount() = " << table->rowCount();
    for (int row = 0; row < table->rowCount(); ++row)
        table->hideRow(row);
    qDebug() << "m_allPackage_row.length = " << m_allPackage_row.size();
    for (int row : qAsConst(m_allPackage_row))
        table->showRow(row);
    if (!m_allPackage_row.isEmpty()) {
        ui->label_allPackage->hide();
        table->show();
    } else {
        ui->label_allPackage->show();
        table->hide();
    }
    goPage(ui->listWidget->item(0));
}

// ---------------------------------------------------------------------------------------------
// Search

void MainWindow::searchPackage()
{
    on_btn_search_clicked();
}

void MainWindow::on_btn_search_clicked()
{
    if (isLoading()) {
        emptySearchBox();
        return;
    }
    ui->tableWidget_allPackage->show();
    const QString text = ui->lineEdit_search->text();
    qDebug() << "str_search = " << text;

    if (ui->stackedWidget->currentWidget() == ui->page_allPackage) {
        const QString category = categoryName(ui->listWidget->currentRow());
        m_currentTable = ui->tableWidget_allPackage;
        if (m_page == HomePage)
            searchAllTable(m_demon->selectSoftware(0, category, text));
        else if (m_page == UpgradePage)
            searchAllTable(m_demon->selectSoftware(1, QString(), text));
    } else if (ui->stackedWidget->currentWidget() == ui->page_packageDelete) {
        m_currentTable = ui->tableWidget_delete;
        const QVector<RpmData> results = m_demon->selectSoftware(2, QString(), text);
        const bool found = !results.isEmpty();
        if (!found)
            ui->label_delPackage->setText(NoResult);
        ui->label_delPackage->setVisible(!found);
        ui->tableWidget_delete->setVisible(found);
        ui->checkBox_delete->setVisible(found);
        ui->btn_delete_soft->setVisible(found);
        searchDeleteTable(results);
    }
}

void MainWindow::keyOperationSlot()
{
    ui->label_5->hide();
}

void MainWindow::on_lineEdit_search_textEdited(QString text)
{
    if (!text.isEmpty()) {
        ui->lineEdit_search->setFocus(Qt::OtherFocusReason);
        ui->label_5->hide();
    } else {
        ui->label_5->show();
    }
}

// ---------------------------------------------------------------------------------------------
// Upgrade page

void MainWindow::getUpdateNum(int value)
{
    Q_UNUSED(value);
    qDebug() << "**********************  getUpdateNum";
    for (int code = 1; code <= Category::Count; ++code) {
        const QString name = Category::name(code);
        ui->listWidget->item(code)->setText(
            countText(name, m_demon->selectSoftware(0, name, QString()).size()));
    }
    const int upgradable = m_demon->selectSoftware(1, QString(), QString()).size();
    if (upgradable < 1) {
        ui->btn_num->hide();
    } else {
        ui->btn_num->setText(QString::number(upgradable));
        ui->btn_num->show();
    }
    if (!m_catalogBuilt) {
        initTableAllPackage();
        m_catalogBuilt = true;
    } else {
        refreshWaitingRecords();
    }
    ui->stackedWidget->setCurrentWidget(ui->page_allPackage);
    ui->stackedWidget_content->setCurrentWidget(ui->page_content);
    m_loadingTimer->stop();
    qDebug() << "refresh... m_page" << m_page;
    if (m_page == HomePage)
        on_btn_allPackage_clicked();
    else if (m_page == UpgradePage)
        on_btn_packageUpdate_clicked();
    else
        on_btn_packageDelete_clicked();
}

void MainWindow::refreshWaitingRecords()
{
    // Records without a row wait as the catalog has them now: software added by the server
    // since the first build gets a row when a page or a scroll asks for it, and removed or
    // changed software does not come back as it was.
    QTableWidget *table = ui->tableWidget_allPackage;
    QSet<QString> shown;
    for (int row = 0; row < table->rowCount(); ++row)
        shown.insert(PackageTable::text(table, row, PackageTable::ColumnDisplayName));
    all_data.clear();
    for (const RpmData &record : m_demon->selectSoftware(0, QString(), QString()))
        if (!shown.contains(record.m_name))
            all_data.append(record);
}

void MainWindow::updateAppSlot(QStringList packages)
{
    m_staleRows.clear();
    m_staleRowsSpare.clear();
    if (packages.isEmpty())
        return;
    // The list names package strings; the record of each is found by its package string.
    const QVector<RpmData> catalog = m_demon->selectSoftware(0, QString(), QString());
    QTableWidget *table = ui->tableWidget_allPackage;
    for (const QString &package : packages) {
        auto found = std::find_if(catalog.cbegin(), catalog.cend(),
                                  [&](const RpmData &r) { return r.m_rpm == package; });
        if (found == catalog.cend())
            continue;
        const RpmData record = *found;
        if (ui->stackedWidget->currentWidget() != ui->page_allPackage)
            continue;
        for (int row = 0; row < table->rowCount(); ++row) {
            if (PackageTable::text(table, row, PackageTable::ColumnDisplayName) != record.m_name)
                continue;
            if (PackageTable::text(table, row, PackageTable::ColumnState) == Idle) {
                rewriteRow(table, row, record);
                break;
            }
            m_staleRows.insert(record.m_name, true);
        }
    }
}

void MainWindow::on_btn_packageUpdate_clicked()
{
    if (isLoading()) {
        emptySearchBox();
        return;
    }
    m_allInsertGuard = false;
    leavePage(UpgradePage);
    ui->stackedWidget->setCurrentWidget(ui->page_allPackage);
    ui->stackedWidget_content->setCurrentWidget(ui->page_content);

    QTableWidget *table = ui->tableWidget_allPackage;
    table->showColumn(PackageTable::ColumnSpacer);
    table->showColumn(PackageTable::ColumnCheck);
    table->setColumnWidth(PackageTable::ColumnName, 280);
    table->setColumnWidth(PackageTable::ColumnVersion, 170);
    table->setColumnWidth(PackageTable::ColumnSize, 140);
    table->setStyleSheet(UpgradeTableStyle);
    ui->frame->show();
    setUpgradeHeaderVisible(true);
    ui->listWidget->hide();

    emptySearchBox();
    on_btn_search_clicked();

    const Qt::CheckState state = ui->checkBox_update->checkState();
    m_updateBuilt = false;
    initTableUpdatePackage();
    m_updateBuilt = true;
    setSelectAllBox(ui->checkBox_update, state, &m_allInsertGuard);
}

void MainWindow::initTableUpdatePackage()
{
    getUpdatePackage();
}

void MainWindow::getUpdatePackage()
{
    qDebug() << "********************  getUpdatePackage()";
    m_currentTable = ui->tableWidget_allPackage;
    const QVector<RpmData> list = m_demon->selectSoftware(1, QString(), m_lineEdit_update);
    setUpgradeCount(list.size());
    searchAllTable(list);
}

void MainWindow::on_checkBox_update_clicked()
{
    if (!m_allInsertGuard)
        return;
    m_allInsertGuard = false;
    if (ui->checkBox_update->checkState() == Qt::PartiallyChecked)
        ui->checkBox_update->setCheckState(Qt::Checked);
    const bool checked = ui->checkBox_update->checkState() == Qt::Checked;
    QTableWidget *table = ui->tableWidget_allPackage;
    for (int row = 0; row < table->rowCount(); ++row)
        if (isRowVisible(table, row))
            PackageTable::setCheckItem(table, row, checked);
    m_allInsertGuard = true;
}

void MainWindow::allPackageItemClickedSlot(QTableWidgetItem *item)
{
    if (!item || item->column() != PackageTable::ColumnCheck || !m_allInsertGuard)
        return;
    setSelectAllBox(ui->checkBox_update,
                    selectionState(ui->tableWidget_allPackage, true, Qt::Checked),
                    &m_allInsertGuard);
}

void MainWindow::allPackageChangedSlot(int row, int column)
{
    m_allRestore = true;
    QTableWidget *table = ui->tableWidget_allPackage;
    if (column != PackageTable::ColumnCheck || !isRowVisible(table, row))
        return;
    int visible = 0;
    int unchecked = 0;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (!isRowVisible(table, r))
            continue;
        ++visible;
        if (!PackageTable::isChecked(table, r))
            ++unchecked;
    }
    if (unchecked != visible && (visible == 0 || unchecked != 0))
        return;
    const bool check = unchecked != visible;
    for (int r = 0; r < table->rowCount(); ++r)
        if (!isRowVisible(table, r))
            PackageTable::setCheckItem(table, r, check);
}

void MainWindow::on_btn_update_soft_clicked()
{
    if (m_updateRunning)
        return;
    m_updateRunning = true;
    qDebug() << "**********************  on_btn_update_soft_clicked()";
    if (!m_pendingUpgrade.isEmpty()) {
        showMessage(QStringLiteral("正在升级软件！"));
        m_updateRunning = false;
        return;
    }
    QTableWidget *table = ui->tableWidget_allPackage;
    m_updateRowsPresent = 0;
    for (int row = table->rowCount() - 1; row >= 0; --row) {
        if (!isRowVisible(table, row))
            continue;
        ++m_updateRowsPresent;
        if (PackageTable::isChecked(table, row))
            m_pendingUpgrade.append(PackageTable::text(table, row, PackageTable::ColumnRpm));
    }
    if (m_pendingUpgrade.isEmpty()) {
        showMessage(QStringLiteral("请选择升级的软件！"));
        m_updateRunning = false;
        return;
    }
    execUpdateSlot();
}

void MainWindow::execUpdateSlot()
{
    const int total = ui->btn_num->isHidden() ? 0 : ui->btn_num->text().toInt();
    while (m_updateRowsPresent != total) {
        const int before = m_updateRowsPresent;
        loadAllPackageNewData();
        if (m_updateRowsPresent == before)
            break;
    }
    m_updateBatchIndex = 0;
    m_updateBatchSize = m_pendingUpgrade.size();
    QTableWidget *table = ui->tableWidget_allPackage;
    // A refused upgrade leaves the list while this loop runs.
    const QVector<QString> batch = m_pendingUpgrade;
    for (const QString &rpm : batch) {
        ++m_updateBatchIndex;
        qDebug() << "update :rpm_name" << rpm;
        for (int row = table->rowCount() - 1; row >= 0; --row) {
            if (!isRowVisible(table, row) ||
                PackageTable::text(table, row, PackageTable::ColumnRpm) != rpm)
                continue;
            if (InstallItem *item = controllerAt(table, row))
                item->installAppSlot();
            break;
        }
    }
    refreshUpgradeCount();
    m_updateRunning = false;
}

void MainWindow::on_pushButton_update_clicked()
{
    m_loadingTimer->start(LoadingIntervalMs);
    if (m_page == HomePage)
        ui->label_4->move(LoadingPosHome);
    else if (m_page == UpgradePage)
        ui->label_4->move(LoadingPosUpgrade);
    ui->stackedWidget_content->setCurrentWidget(ui->page_loading);
    m_demon->updateData();
}

void MainWindow::on_btn_update_down_clicked() {}

// ---------------------------------------------------------------------------------------------
// Uninstall page

void MainWindow::on_btn_packageDelete_clicked()
{
    qDebug() << "*********************  on_btn_packageDelete_clicked()";
    emptySearchBox();
    on_btn_search_clicked();
    if (isLoading())
        return;

    m_delInsertGuard = false;
    leavePage(UninstallPage);
    ui->stackedWidget->setCurrentWidget(ui->page_packageDelete);
    emptySearchBox();
    on_btn_search_clicked();

    QTableWidget *table = ui->tableWidget_delete;
    m_currentTable = table;
    const QVector<RpmData> list = m_demon->selectSoftware(2, QString(), QString());
    ui->label_delete_info->setText(QStringLiteral("总共") + QString::number(list.size()) +
                                   QStringLiteral("款软件可卸载"));
    m_installedTotal = list.size();
    const PackageTable::OutOfSight building(table);
    if (!m_deleteBuilt) {
        getDeletePackage();
        m_deleteBuilt = true;
    }
    qDebug() << "*************btn_packageDelete************* " << list.size();

    for (int row = table->rowCount() - 1; row >= 0; --row)
        if (!PackageTable::hasItem(table, row, PackageTable::ColumnDisplayName))
            table->removeRow(row);
    QSet<QString> known;
    for (int row = 0; row < table->rowCount(); ++row)
        known.insert(PackageTable::text(table, row, PackageTable::ColumnDisplayName));
    for (const RpmData &record : qAsConst(del_data))
        known.insert(record.m_name);
    for (const RpmData &record : list) {
        if (known.contains(record.m_name))
            continue;
        del_data.append(record);
        known.insert(record.m_name);
    }
    // Everything that waits becomes a row now, batch by batch as the scroll loader does.
    while (!del_data.isEmpty()) {
        const int before = del_data.size();
        loadDelPackageNewData();
        if (del_data.size() == before)
            break;
    }
    m_delInsertGuard = true;
}

void MainWindow::getDeletePackage()
{
    qDebug() << "**************************  getDeletePackage()";
    ui->tableWidget_delete->clearContents();
    del_data = m_demon->selectSoftware(2, QString(), QString());
    ui->label_delete_info->setText(QStringLiteral("总共") + QString::number(del_data.size()) +
                                   QStringLiteral("款软件可卸载"));
    m_installedTotal = del_data.size();
    writeDeletePackageTable(del_data);
}

void MainWindow::writeDeletePackageTable(QVector<RpmData> data)
{
    // The records come from del_data, which is what every caller passes.
    Q_UNUSED(data);
    for (int i = 0; i < FirstBatch && !del_data.isEmpty(); ++i) {
        const RpmData record = del_data.first();
        appendDeleteRow(ui->tableWidget_delete, record, false);
        qDebug() << "icon name=" << Paths::iconDirectory() + record.m_icon
                 << "  icon star = " << record.m_star;
        del_data.removeFirst();
    }
}

int MainWindow::insertDeleteContent(QString name, QTableWidget *table)
{
    qDebug() << "inserDeleteContent " << name;
    const bool checked = m_selectAll || ui->checkBox_delete->checkState() == Qt::Checked;
    const RpmData record = m_demon->selectNameSoftware(0, name);
    if (record.m_name.isEmpty())
        return -1;
    return appendDeleteRow(table, record, checked);
}

void MainWindow::delPackageScrollChangedSlot(int value)
{
    QScrollBar *bar = ui->tableWidget_delete->verticalScrollBar();
    if (m_delRestore) {
        m_delRestore = false;
        bar->setValue(m_delPackage_value);
        return;
    }
    m_delPackage_value = value;
    syslog(LOG_ERR,
           "***********delPackageScrollChangedSlot***************value=%d,m_delPackage_max=%d,"
           "del_data.size=%d",
           value, bar->maximum(), del_data.size());
    if (value == bar->maximum() && !del_data.isEmpty())
        loadDelPackageNewData();
}

void MainWindow::loadDelPackageNewData()
{
    m_delRestore = true;
    const QString text = ui->lineEdit_search->text();
    int added = 0;
    for (int i = 0; i < del_data.size() && added < ScrollBatch;) {
        const QString name = del_data.at(i).m_name;
        if (!text.isEmpty() && !name.contains(text)) {
            ++i;
            continue;
        }
        // A name the catalog no longer knows leaves the waiting list without a row.
        if (insertDeleteContent(name, ui->tableWidget_delete) >= 0)
            ++added;
        del_data.remove(i);
    }
}

void MainWindow::searchDeleteTable(QVector<RpmData> results)
{
    QTableWidget *table = ui->tableWidget_delete;
    const PackageTable::OutOfSight showing(table);
    for (int row = 0; row < table->rowCount(); ++row)
        table->hideRow(row);
    QHash<QString, QVector<int>> rowsByName =
        PackageTable::rowsByText(table, PackageTable::ColumnDisplayName);
    int shown = 0;
    for (const RpmData &record : results) {
        const QVector<int> rows = rowsByName.value(record.m_name);
        if (!rows.isEmpty()) {
            table->showRow(rows.first());
            ++shown;
        }
        while (shown <= ResultRows) {
            const int index = findWaiting(del_data, record.m_name, record.m_rpm);
            if (index < 0)
                break;
            const int added = insertDeleteContent(record.m_name, table);
            del_data.remove(index);
            if (added < 0)
                break;
            rowsByName[record.m_name].append(added);
            table->showRow(added);
            ++shown;
        }
    }
}

void MainWindow::on_checkBox_delete_clicked()
{
    if (!m_delInsertGuard)
        return;
    m_delInsertGuard = false;
    if (ui->checkBox_delete->checkState() == Qt::PartiallyChecked)
        ui->checkBox_delete->setCheckState(Qt::Checked);
    const bool checked = ui->checkBox_delete->checkState() == Qt::Checked;
    QTableWidget *table = ui->tableWidget_delete;
    for (int row = 0; row < table->rowCount(); ++row)
        PackageTable::setCheckItem(table, row, checked);
    m_selectAll = checked;
    m_delInsertGuard = true;
}

void MainWindow::delPackageItemClickedSlot(QTableWidgetItem *item)
{
    if (!item || item->column() != PackageTable::ColumnCheck || !m_delInsertGuard)
        return;
    setSelectAllBox(ui->checkBox_delete, selectionState(ui->tableWidget_delete, true, Qt::Checked),
                    &m_delInsertGuard);
}

void MainWindow::on_btn_delete_soft_clicked()
{
    if (!m_pendingUninstall.isEmpty()) {
        showMessage(QStringLiteral("正在执行卸载软件！"));
        m_delBatchRunning = false;
        return;
    }
    m_pendingUninstall.clear();
    QTableWidget *table = ui->tableWidget_delete;
    for (int row = table->rowCount() - 1; row >= 0; --row)
        if (PackageTable::isChecked(table, row))
            m_pendingUninstall.append(PackageTable::text(table, row, PackageTable::ColumnRpm));
    qDebug() << "************ uninstall*************all_data size=" << all_data.size();
    if (m_pendingUninstall.isEmpty()) {
        showMessage(QStringLiteral("请选择卸载的软件！"));
        m_delBatchRunning = false;
        return;
    }
    m_selectedCount = m_pendingUninstall.size();
    comDialog dialog;
    dialog.ui->label_dialog_info->setText(tr("确定要卸载所有已勾选软件吗？"));
    placeDialog(&dialog);
    connect(&dialog, &comDialog::execOkSignal, this, &MainWindow::execUninstallSlot);
    dialog.exec();
}

void MainWindow::execUninstallSlot(int result)
{
    if (result == 0) {
        m_pendingUninstall.clear();
        m_delBatchRunning = false;
        m_selectedCount = 0;
        m_selectAll = false;
        return;
    }
    qDebug() << "************ exec uninstall*************all_data size=" << all_data.size()
             << (m_selectAll ? "true" : "false");
    if (m_selectAll && !del_data.isEmpty()) {
        for (const RpmData &record : qAsConst(del_data))
            m_pendingUninstall.append(record.m_rpm);
        // They were selected by "全选" as much as the rows on screen: no second question each.
        m_selectedCount += del_data.size();
        while (!del_data.isEmpty()) {
            const int before = del_data.size();
            loadDelPackageNewData();
            if (del_data.size() == before)
                break;
        }
    }
    m_selectAll = false;

    m_delBatchIndex = 0;
    m_delBatchSize = m_pendingUninstall.size();
    QTableWidget *table = ui->tableWidget_delete;
    // A refused uninstall leaves the list while this loop runs.
    const QVector<QString> batch = m_pendingUninstall;
    for (const QString &rpm : batch) {
        ++m_delBatchIndex;
        for (int row = table->rowCount() - 1; row >= 0; --row) {
            if (PackageTable::text(table, row, PackageTable::ColumnState) != Idle ||
                PackageTable::text(table, row, PackageTable::ColumnRpm) != rpm)
                continue;
            if (InstallItem *item = controllerAt(table, row)) {
                item->installAppSlot();
                qDebug() << "item object=" << item->objectName();
            }
            break;
        }
    }
    m_delBatchRunning = true;
}

void MainWindow::modifyDeleteTableWidget(QString name, QString unused)
{
    Q_UNUSED(unused);
    QTableWidget *table = ui->tableWidget_delete;
    const int row = PackageTable::findRow(table, PackageTable::ColumnDisplayName, name);
    if (row >= 0) {
        table->removeRow(row);
    } else {
        for (int i = 0; i < del_data.size(); ++i) {
            if (del_data.at(i).m_name == name) {
                del_data.remove(i);
                break;
            }
        }
    }
    insertDeleteContent(name, table);
}

void MainWindow::on_btn_delete_down_clicked() {}

// ---------------------------------------------------------------------------------------------
// Operation requests and results

bool MainWindow::isRunningSlot(int row, QTableWidget *table, QString oper, QString rpm,
                               bool mayProceed)
{
    qDebug() << "*************************isRunningSlot****************  " << row;
    Q_UNUSED(table);
    if (oper == QuickInstall || oper == Download || oper == Upgrade || oper == Install) {
        m_allRestore = true;
        QTableWidget *catalog = ui->tableWidget_allPackage;
        if (row < 0 || row >= catalog->rowCount()) {
            m_reDownloading = false;
            return false;
        }
        const OperInfo task{oper, PackageTable::text(catalog, row, PackageTable::ColumnType),
                            PackageTable::text(catalog, row, PackageTable::ColumnRpm),
                            PackageTable::text(catalog, row, PackageTable::ColumnKey)};
        const QString name = PackageTable::text(catalog, row, PackageTable::ColumnDisplayName);
        const QString size = PackageTable::text(catalog, row, PackageTable::ColumnSize);
        PackageTable::setText(catalog, row, PackageTable::ColumnState, Busy);

        if (oper == Upgrade && !mayProceed) {
            m_reDownloading = false;
            showMessage(name + QStringLiteral("正在运行！"));
            m_pendingUpgrade.removeAll(task.m_rpmname);
            PackageTable::setText(catalog, row, PackageTable::ColumnState, Idle);
            return true;
        }
        if (oper == QuickInstall)
            m_quitInstallThread->insertQueue(task);
        else if (oper == Download)
            m_downloadThread->insertQueue(task);
        else if (oper == Upgrade)
            m_updateRpmThread->insertQueue(task);
        else
            m_installRpmThread->insertQueue(task);
        if (!m_reDownloading)
            m_loadDialog->addDatatotable(row, name, task.m_key, size, oper, 0);
        m_reDownloading = false;
        return false;
    }

    if (oper != Uninstall)
        return false;
    m_delRestore = true;
    qDebug() << "[oper==卸载] delete_select_num = " << m_selectedCount
             << (m_delBatchRunning ? "true" : "false");
    if (m_selectedCount == 0 && !m_delBatchRunning) {
        m_selectAll = false;
        qDebug() << "******* dialog->exec() == QDialog::Accepted    delete_soft = ";
        comDialog dialog;
        dialog.ui->label_dialog_info->setText(tr("确定要卸载吗？"));
        placeDialog(&dialog);
        connect(&dialog, &comDialog::execOkSignal, this, &MainWindow::execUninstallSlot);
        dialog.exec();
        if (!m_delBatchRunning && m_selectedCount <= 0)
            return false;
    }
    qDebug() << "[oper==卸载] delete_soft =" << (m_delBatchRunning ? "true" : "false")
             << m_selectedCount;
    if (m_selectedCount > 0)
        --m_selectedCount;

    QTableWidget *uninstall = ui->tableWidget_delete;
    int target = row;
    // Rows above it may have gone since the controller was made.
    if (target < 0 || target >= uninstall->rowCount() ||
        PackageTable::text(uninstall, target, PackageTable::ColumnRpm) != rpm)
        target = PackageTable::findRow(uninstall, PackageTable::ColumnRpm, rpm);
    if (target < 0)
        return false;
    const OperInfo task{oper, PackageTable::text(uninstall, target, PackageTable::ColumnType),
                        PackageTable::text(uninstall, target, PackageTable::ColumnRpm),
                        PackageTable::text(uninstall, target, PackageTable::ColumnKey)};
    const QString name = PackageTable::text(uninstall, target, PackageTable::ColumnDisplayName);

    if (!mayProceed) {
        showMessage(name + QStringLiteral("正在运行！"), true);
        dropPending(&m_pendingUninstall, task.m_rpmname, &m_delBatchSize, &m_delBatchIndex);
        PackageTable::setText(uninstall, target, PackageTable::ColumnState, Idle);
        return false;
    }
    PackageTable::setText(uninstall, target, PackageTable::ColumnState, Busy);
    m_getAuthThread->insertQueue(task);
    m_delBatchRunning = false;
    return true;
}

void MainWindow::startExecSlot(QString oper)
{
    if (oper == Uninstall) {
        ui->tableWidget_delete->verticalScrollBar()->setValue(m_delPackage_value);
        return;
    }
    qDebug() << "m_allPackage_valuem_allPackage_value = " << m_allPackage_value;
    ui->tableWidget_allPackage->verticalScrollBar()->setValue(m_allPackage_value);
}

void MainWindow::progressSlot(QString key, int percent)
{
    m_loadDialog->progressSlot(key, percent);
}

void MainWindow::downloadEndSlot(QString oper, int res, QString third, QString key)
{
    Q_UNUSED(third);
    qDebug() << "************   MainWindow::downloadEndSlot*****************   flag=" << res
             << "   name=" << key;
    if (res != 0)
        return;
    QTableWidget *table = ui->tableWidget_allPackage;
    for (int row = 0; row < table->rowCount(); ++row) {
        const QString rowKey = PackageTable::text(table, row, PackageTable::ColumnKey);
        qDebug() << "tableWidget->item(i,8)->text()=" << rowKey;
        if (rowKey != key)
            continue;
        if (InstallItem *item = controllerAt(table, row))
            item->downLoadEnd(oper);
        break;
    }
}

bool MainWindow::mayReportFailure() const
{
    return m_loadDialog->isHidden() && !m_cancelling;
}

void MainWindow::reportFailure(const QString &text)
{
    if (mayReportFailure())
        showMessage(text);
    m_cancelling = false;
}

void MainWindow::dropPending(QVector<QString> *pending, const QString &rpm, int *size, int *index)
{
    if (!pending->contains(rpm))
        return;
    pending->removeAll(rpm);
    --*size;
    --*index;
}

void MainWindow::hideUpgradedRow(int row)
{
    m_updatePackage_row.removeAll(row);
    if (m_page == UpgradePage)
        ui->tableWidget_allPackage->hideRow(row);
}

void MainWindow::openSoft(QString oper, int res, QString third, QString key)
{
    qDebug() << oper << res << third << "******************" << key;
    m_allRestore = true;
    if (oper == OpenApp) {
        if (!third.isEmpty() && third != QLatin1String("NULL")) {
            // Through the shell as written, run as the login user, never as root.
            auto *launcher = new DataThread(third);
            connect(launcher, &QThread::finished, launcher, &QObject::deleteLater);
            launcher->start();
        } else {
            showMessage(QStringLiteral("此应用程序不能打开！"));
        }
        return;
    }

    QTableWidget *catalog = ui->tableWidget_allPackage;
    const int row = PackageTable::findRow(catalog, PackageTable::ColumnKey, key);
    if (oper == QuickInstall || oper == Install)
        installResult(oper, res, key, row);
    else if (oper == Download)
        downloadResult(res, key, row);
    else if (oper == Upgrade)
        upgradeResult(oper, res, key, row);
    else if (oper == Uninstall)
        uninstallResult(res, key);

    if (oper != QuickInstall && oper != Install && oper != Download)
        return;
    if (ui->stackedWidget->currentWidget() == ui->page_allPackage && !m_staleRows.isEmpty() &&
        row >= 0) {
        const QString name = PackageTable::text(catalog, row, PackageTable::ColumnDisplayName);
        if (m_staleRows.value(name, false)) {
            const RpmData record = catalogRecord(name);
            if (!record.m_name.isEmpty())
                rewriteRow(catalog, row, record);
        }
    }
    m_staleRows.clear();
}

QString MainWindow::failedPackage(int row, const QString &key) const
{
    // The download manager names a package by its package string and derives the key itself.
    if (row < 0)
        return key;
    return PackageTable::text(ui->tableWidget_allPackage, row, PackageTable::ColumnRpm);
}

void MainWindow::installResult(const QString &oper, int res, const QString &key, int row)
{
    QTableWidget *catalog = ui->tableWidget_allPackage;
    const QString name =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnDisplayName) : QString();
    if (res == 0) {
        if (row >= 0) {
            PackageTable::setText(catalog, row, PackageTable::ColumnState, Idle);
            insertAllandTypeConent(name, catalog, OpenApp);
            QTableWidget *uninstall = ui->tableWidget_delete;
            const int old = PackageTable::findRow(uninstall, PackageTable::ColumnDisplayName, name);
            if (old >= 0)
                uninstall->removeRow(old);
            insertDeleteContent(name, uninstall);
            ++m_installedTotal;
        }
        // Installed: the package is no longer a download waiting to be installed.
        m_loadDialog->installSuccess(key, oper);
        return;
    }
    reportFailure(QStringLiteral("安装软件失败！"));
    if (row >= 0) {
        PackageTable::setText(catalog, row, PackageTable::ColumnState, Idle);
        insertAllandTypeConent(name, catalog, QuickInstall);
    }
    m_loadDialog->downLoadFail(failedPackage(row, key), res);
}

void MainWindow::downloadResult(int res, const QString &key, int row)
{
    QTableWidget *catalog = ui->tableWidget_allPackage;
    const QString name =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnDisplayName) : QString();
    if (row >= 0) {
        PackageTable::setText(catalog, row, PackageTable::ColumnState, Idle);
        insertAllandTypeConent(name, catalog, res == 0 ? Install : QuickInstall);
    }
    if (res == 0) {
        m_loadDialog->progressSlot(key, 100);
        return;
    }
    reportFailure(QStringLiteral("下载软件失败！"));
    m_loadDialog->downLoadFail(failedPackage(row, key), res);
}

void MainWindow::upgradeResult(const QString &oper, int res, const QString &key, int row)
{
    QTableWidget *catalog = ui->tableWidget_allPackage;
    const QString rpm =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnRpm) : QString();
    const QString name =
        row >= 0 ? PackageTable::text(catalog, row, PackageTable::ColumnDisplayName) : QString();
    if (res != 0) {
        reportFailure(QStringLiteral("升级软件失败！"));
        if (row >= 0) {
            PackageTable::setText(catalog, row, PackageTable::ColumnState, Idle);
            insertAllandTypeConent(name, catalog, Upgrade);
            dropPending(&m_pendingUpgrade, rpm, &m_updateBatchSize, &m_updateBatchIndex);
        }
        m_loadDialog->downLoadFail(failedPackage(row, key), res);
        return;
    }
    if (row >= 0) {
        PackageTable::setText(catalog, row, PackageTable::ColumnState, Idle);
        refreshUpgradeCount();
        hideUpgradedRow(row);
        insertAllandTypeConent(name, catalog, OpenApp);
        modifyDeleteTableWidget(name, rpm);
        loadUpdatePackageFromData();
        setSelectAllBox(ui->checkBox_update, Qt::Unchecked, &m_allInsertGuard);
        loadAllPackageNewData();
        if (m_pendingUpgrade.contains(rpm)) {
            dropPending(&m_pendingUpgrade, rpm, &m_updateBatchSize, &m_updateBatchIndex);
            if (m_updateBatchIndex == 0)
                setSelectAllBox(ui->checkBox_update, selectionState(catalog, true, Qt::Unchecked),
                                &m_allInsertGuard);
        }
    }
    m_loadDialog->installSuccess(key, oper);
}

void MainWindow::uninstallResult(int res, const QString &key)
{
    QTableWidget *uninstall = ui->tableWidget_delete;
    const int row = PackageTable::findRow(uninstall, PackageTable::ColumnKey, key);
    if (row < 0) {
        if (res != 0)
            showMessage(QStringLiteral("卸载软件失败！"));
        return;
    }
    const QString rpm = PackageTable::text(uninstall, row, PackageTable::ColumnRpm);
    const QString name = PackageTable::text(uninstall, row, PackageTable::ColumnDisplayName);
    PackageTable::setText(uninstall, row, PackageTable::ColumnState, Idle);
    if (res != 0) {
        if (InstallItem *item = controllerAt(uninstall, row))
            item->execTaskSlot(Uninstall, -1, QString(), QString());
        dropPending(&m_pendingUninstall, rpm, &m_delBatchSize, &m_delBatchIndex);
        showMessage(QStringLiteral("卸载软件失败！"));
        return;
    }

    QTableWidget *catalog = ui->tableWidget_allPackage;
    bool inCatalog = false;
    for (int r = 0; r < catalog->rowCount(); ++r) {
        if (PackageTable::text(catalog, r, PackageTable::ColumnDisplayName) != name)
            continue;
        PackageTable::setText(catalog, r, PackageTable::ColumnState, Idle);
        hideUpgradedRow(r);
        inCatalog = true;
    }
    // The badge counts what is upgradable now, not the rows that happen to be loaded.
    refreshUpgradeCount();
    if (inCatalog)
        insertAllandTypeConent(name, catalog, QuickInstall);
    --m_installedTotal;
    ui->label_delete_info->setText(QStringLiteral("总共") + QString::number(m_installedTotal) +
                                   QStringLiteral("款软件可卸载"));
    const bool batchEntry = m_pendingUninstall.contains(rpm);
    dropPending(&m_pendingUninstall, rpm, &m_delBatchSize, &m_delBatchIndex);
    m_loadDialog->delDatafromtable(key);
    uninstall->removeRow(row);
    if (batchEntry && m_delBatchIndex == 0)
        setSelectAllBox(ui->checkBox_delete, selectionState(uninstall, false, Qt::Checked),
                        &m_delInsertGuard);
}

void MainWindow::insertAllandTypeConent(QString name, QTableWidget *table, QString oper)
{
    RpmData record = m_demon->selectNameSoftware(0, name);
    int row = PackageTable::findRow(table, PackageTable::ColumnDisplayName, name);
    if (record.m_name.isEmpty()) {
        // The catalog dropped the package meanwhile: the row keeps what it shows.
        if (row < 0)
            return;
        record = recordFromRow(table, row);
    }
    if (row < 0)
        row = insertAllPackageContent(record);
    const bool selector = oper == QuickInstall;
    table->setCellWidget(
        row, PackageTable::ColumnOperation,
        createController(record, selector ? QStringList{QuickInstall, Download} : QStringList(),
                         selector ? QString() : oper, row, table));
}

void MainWindow::loadUpdatePackageFromData()
{
    const QString text = ui->lineEdit_search->text();
    for (int i = 0; i < all_data.size(); ++i) {
        const RpmData record = all_data.at(i);
        if ((text.isEmpty() || record.m_name.contains(text)) &&
            (m_page != UpgradePage || record.m_state == 1)) {
            insertAllPackageContent(record);
            all_data.remove(i);
            return;
        }
    }
}

void MainWindow::cancelDownLoadSlot(QString key)
{
    m_cancelling = true;
    m_loadDialog->delDatafromtable(key);
    m_quitInstallThread->deleteQueue(key);
    m_downloadThread->deleteQueue(key);
    m_updateRpmThread->deleteQueue(key);
    if (m_page != UpgradePage)
        return;
    QTableWidget *catalog = ui->tableWidget_allPackage;
    const int row = PackageTable::findRow(catalog, PackageTable::ColumnKey, key);
    if (row < 0)
        return;
    dropPending(&m_pendingUpgrade, PackageTable::text(catalog, row, PackageTable::ColumnRpm),
                &m_updateBatchSize, &m_updateBatchIndex);
    qDebug() << key << "dddd";
    PackageTable::setText(catalog, row, PackageTable::ColumnState, Idle);
}

void MainWindow::loadDialogCancelSlot(int row, QString oper, QString key)
{
    qDebug() << "###############  row=" << row << "   oper=" << oper << "   name=" << key;
    if (oper != QuickInstall && oper != Download && oper != Upgrade)
        return;
    QTableWidget *catalog = ui->tableWidget_allPackage;
    if (oper != Upgrade)
        qDebug() << catalog->rowCount();
    int found = -1;
    for (int r = 0; r < catalog->rowCount(); ++r) {
        const QString rowKey = PackageTable::text(catalog, r, PackageTable::ColumnKey);
        if (oper != Upgrade)
            qDebug() << rowKey << "testddd";
        if (rowKey == key) {
            found = r;
            qDebug() << key << "dddd";
            break;
        }
    }
    if (found < 0 && oper != Upgrade)
        found = row;
    if (found < 0 || found >= catalog->rowCount())
        return;
    PackageTable::setText(catalog, found, PackageTable::ColumnState, Idle);
    if (InstallItem *item = controllerAt(catalog, found))
        item->cancelDownloadSlot();
    insertAllandTypeConent(PackageTable::text(catalog, found, PackageTable::ColumnDisplayName),
                           catalog, oper == Upgrade ? Upgrade : QuickInstall);
}

void MainWindow::reDownLoadSlot(int row, QString key, QString oper)
{
    m_reDownloading = true;
    qDebug() << "row=" << row << "   name=" << key;
    QTableWidget *catalog = ui->tableWidget_allPackage;
    if (row >= 0 && row < catalog->rowCount() &&
        PackageTable::hasItem(catalog, row, PackageTable::ColumnKey)) {
        qDebug() << "********  oper=" << oper;
        InstallItem *item = controllerAt(catalog, row);
        if (item && PackageTable::text(catalog, row, PackageTable::ColumnKey) == key)
            item->execTask(oper);
        else
            m_reDownloading = false;
        return;
    }
    int found = PackageTable::findRow(catalog, PackageTable::ColumnKey, key);
    if (found < 0) {
        for (int i = 0; i < all_data.size(); ++i) {
            if (all_data.at(i).m_icon == key) {
                insertAllPackageContent(all_data.at(i));
                all_data.remove(i);
                found = catalog->rowCount() - 1;
                break;
            }
        }
    }
    InstallItem *item = controllerAt(catalog, found);
    if (!item) {
        // Nothing to start: the next request of a row must be registered as usual.
        m_reDownloading = false;
        return;
    }
    if (oper == Upgrade) {
        item->execTask(oper);
    } else if (item->getOperSign()) {
        m_loadDialog->modifyparament(key, found, Upgrade);
        item->execTask(Upgrade);
    } else {
        item->execTask(oper);
    }
}
