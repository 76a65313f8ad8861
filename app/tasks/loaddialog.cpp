#include "tasks/loaddialog.h"
#include "records/operationword.h"
#include "tasks/downloadstate.h"

#include "engine/shellfunctions.h"
#include "records/clientconfig.h"
#include "records/quoting.h"
#include "records/version.h"
#include "storage/downloadrecords.h"
#include "tasks/items.h"
#include "ui_loaddialog.h"

#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QHeaderView>
#include <QPainter>
#include <QTableWidgetItem>

namespace
{

const QString ClearFinished = QStringLiteral("清除已下载");

constexpr int RowHeight = 75;

// Removes the download directories of the package named key below pkgpath: exactly the
// entries named key-VERSION-RELEASE, so that clearing foo leaves foo-bar's downloads alone.
void removeDownloads(const QString &pkgpath, const QString &key)
{
    const QFileInfoList entries =
        QDir(pkgpath).entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QFileInfo &entry : entries) {
        const RpmInfo package = splitPackageString(entry.fileName());
        if (package.m_name != key || package.m_version.isEmpty() || package.m_release.isEmpty())
            continue;
        // rm -rf on the path itself removes a link there, never what it points to.
        runShell(QStringLiteral("rm -rf ") +
                 Quoting::shell(pkgpath + QLatin1Char('/') + entry.fileName()));
    }
}

} // namespace

LoadDialog::LoadDialog(QWidget *parent) : QDialog(parent), ui(new Ui::LoadDialog)
{
    ui->setupUi(this);
    Qt::WindowFlags flags = Qt::FramelessWindowHint;
    if (windowFlags() & Qt::WindowCloseButtonHint)
        flags |= Qt::WindowCloseButtonHint;
    setWindowFlags(flags);
    ui->label_delload->installEventFilter(this);
    ui->label_delvalid->installEventFilter(this);
    ui->tableWidget_load->hideColumn(1);
    ui->tableWidget_load->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    ui->tableWidget_load->verticalHeader()->setDefaultSectionSize(RowHeight);
    ui->close->setIconsInfo(QStringLiteral(":/img/close_loaddialog.png"),
                            QStringLiteral(":/img/close_bd.png"), QStringLiteral("close"));
    initContent();
    connect(ui->close, &BackgroundButton::buttonClicked, this, &LoadDialog::on_pushButton_clicked);
}

LoadDialog::~LoadDialog()
{
    delete ui;
}

int LoadDialog::findRow(const QString &key) const
{
    for (int row = ui->tableWidget_load->rowCount() - 1; row >= 0; --row) {
        const QTableWidgetItem *item = ui->tableWidget_load->item(row, 1);
        if (item && item->text() == key)
            return row;
    }
    return -1;
}

Items *LoadDialog::itemOf(const QString &key) const
{
    const int row = findRow(key);
    if (row < 0)
        return nullptr;
    return qobject_cast<Items *>(ui->tableWidget_load->cellWidget(row, 0));
}

Items *LoadDialog::appendRow(const QString &key)
{
    const int row = ui->tableWidget_load->rowCount();
    ui->tableWidget_load->insertRow(row);
    ui->tableWidget_load->setRowHeight(row, RowHeight);
    auto *items = new Items;
    ui->tableWidget_load->setCellWidget(row, 0, items);
    ui->tableWidget_load->setItem(row, 1, new QTableWidgetItem(key));
    connect(items, &Items::cancelLoadSignal, this, &LoadDialog::cancelLoadSlot);
    connect(items, &Items::reLoadSignal, this, &LoadDialog::reLoadSlot);
    connect(items, &Items::removeFromtable, this, &LoadDialog::delDatafromtable);
    return items;
}

void LoadDialog::initContent()
{
    qDebug() << "initcontent:::::::::::::";
    for (DownloadRecords::Record record : DownloadRecords::all()) {
        m_map.insert(record.key, record.number);
        Items *items = appendRow(record.key);
        // A download still marked as running was cut off when the store last ended.
        if (record.state == DownloadState::downloading()) {
            record.state = DownloadState::downloadFailed();
            DownloadRecords::setListedState(record.key, record.state);
        }
        items->setItemValues(record.display, record.key, record.size, 0, record.oper, record.state);
    }
}

void LoadDialog::addDatatotable(int number, QString display, QString key, QString size,
                                QString oper, int progress)
{
    const int old = findRow(key);
    if (old >= 0) {
        ui->tableWidget_load->removeRow(old);
        m_map.remove(key);
        qDebug() << "#############  row=" << ui->tableWidget_load->rowCount();
    }
    m_map.insert(key, number);
    Items *items = appendRow(key);
    if (oper == OperationWord::install())
        items->setItemValues(display, key, size, 99, oper, DownloadState::installing());
    else
        items->setItemValues(display, key, size, progress, oper, DownloadState::downloading());
    // Stored as running also for an install.
    DownloadRecords::add({display, key, size, DownloadState::downloading(), oper, number});
}

void LoadDialog::progressSlot(QString key, int percent)
{
    Items *items = itemOf(key);
    if (!items)
        return;
    items->setProgressValue(percent);
    if (percent == 100)
        DownloadRecords::setState(key, DownloadState::downloaded());
}

void LoadDialog::downLoadFail(QString rpmname, int flag)
{
    qDebug() << "flag::::::::::::::::" << flag;
    qDebug() << "rpmname::::::" << rpmname;
    QStringList parts = rpmname.split(QLatin1Char('-'), Qt::SkipEmptyParts);
    for (int i = 0; i < 2 && !parts.isEmpty(); ++i)
        parts.removeLast();
    const QString key = parts.join(QLatin1Char('-'));
    qDebug() << "name::::::::::::::" << key;
    Items *items = itemOf(key);
    if (!items)
        return;
    items->setReloadButtonShow(flag);
    if (flag == -1)
        DownloadRecords::setState(key, DownloadState::downloadFailed());
    else if (flag == -2)
        DownloadRecords::setState(key, DownloadState::installFailed());
}

void LoadDialog::installSuccess(QString key, QString)
{
    Items *items = itemOf(key);
    if (!items)
        return;
    items->installSuccessShow();
    DownloadRecords::setState(key, DownloadState::installed());
    DownloadRecords::release(key);
}

void LoadDialog::modifyparament(QString key, int number, QString oper)
{
    m_map.insert(key, number);
    if (Items *items = itemOf(key))
        items->modifyvalue(oper);
}

void LoadDialog::delDatafromtable(QString key)
{
    const int row = findRow(key);
    if (row < 0)
        return;
    qDebug() << " del table name=" << key;
    m_map.remove(key);
    ui->tableWidget_load->removeRow(row);
    DownloadRecords::remove(key);
}

void LoadDialog::cancelLoadSlot(QString key, QString oper)
{
    const int number = m_map.value(key, 0);
    delDatafromtable(key);
    emit cancelDownLoadSignal(number, oper, key);
}

void LoadDialog::reLoadSlot(QString key, QString oper)
{
    DownloadRecords::setState(key, DownloadState::downloading());
    const int number = m_map.value(key, 0);
    qDebug() << "reLoadSlot 000000000row" << number;
    qDebug() << "name::" << key;
    emit reDownLoadSignal(number, key, oper);
}

void LoadDialog::cleanTableList(QString linkText)
{
    const QString pkgpath = ClientConfig::pkgpath();
    const QString mark =
        linkText == ClearFinished ? QStringLiteral("成功") : QStringLiteral("失败");

    for (int row = ui->tableWidget_load->rowCount() - 1; row >= 0; --row) {
        const auto *items = qobject_cast<Items *>(ui->tableWidget_load->cellWidget(row, 0));
        if (!items || !items->state().contains(mark))
            continue;
        const QTableWidgetItem *keyItem = ui->tableWidget_load->item(row, 1);
        const QString key = keyItem ? keyItem->text() : QString();
        m_map.remove(key);
        ui->tableWidget_load->removeRow(row);
        DownloadRecords::clear(key);
        // Without a package directory there is nothing of the record's to remove; its paths
        // would be taken relative to "/".
        if (!pkgpath.isEmpty() && !key.isEmpty())
            removeDownloads(pkgpath, key);
    }
}

bool LoadDialog::eventFilter(QObject *watched, QEvent *event)
{
    auto *link = qobject_cast<QLabel *>(watched);
    if (link && (link == ui->label_delload || link == ui->label_delvalid)) {
        switch (event->type()) {
        case QEvent::Enter:
            link->setStyleSheet(QStringLiteral("color:#3366ff;"));
            return true;
        case QEvent::Leave:
            link->setStyleSheet(QStringLiteral("color:#4992d0;"));
            return true;
        case QEvent::MouseButtonPress:
            cleanTableList(link->text());
            return true;
        default:
            break;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void LoadDialog::paintEvent(QPaintEvent *event)
{
    QDialog::paintEvent(event);
    QPainter painter(this);
    painter.setPen(QPen(QColor(128, 128, 128), 2));
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

void LoadDialog::on_pushButton_clicked(QString)
{
    hide();
}
