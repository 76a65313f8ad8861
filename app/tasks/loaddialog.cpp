#include "tasks/loaddialog.h"
#include "records/operationword.h"
#include "tasks/downloadstate.h"

#include "engine/shellfunctions.h"
#include "records/clientconfig.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "records/version.h"
#include "storage/database.h"
#include "storage/queryresult.h"
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

QByteArray localDatabase()
{
    return Paths::localDatabase().toUtf8();
}

// Runs one statement with the key as its only parameter.
void execWithKey(const char *sql, const QString &key)
{
    exec_sql(localDatabase().constData(), sql, key.toUtf8().constData());
}

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

void LoadDialog::updateState(const QString &key, const QString &state, bool bothTables)
{
    const QByteArray sql = QStringLiteral("update  loadrecord set state='%1' where name=?")
                               .arg(Quoting::sqlLiteral(state))
                               .toUtf8();
    execWithKey(sql.constData(), key);
    if (!bothTables)
        return;
    const QByteArray manage = QStringLiteral("update  loadmanage set state='%1' where name=?")
                                  .arg(Quoting::sqlLiteral(state))
                                  .toUtf8();
    execWithKey(manage.constData(), key);
}

void LoadDialog::initContent()
{
    qDebug() << "initcontent:::::::::::::";
    const QueryResult records(Paths::localDatabase(), QStringLiteral("select * from loadrecord"));
    if (records.columns() < 6)
        return;
    for (int r = 0; r < records.rows(); ++r) {
        const QString key = records.text(r, 1);
        QString state = records.text(r, 3);
        m_map.insert(key, records.text(r, 5).toInt());
        Items *items = appendRow(key);
        // A download still marked as running was cut off when the store last ended.
        if (state == DownloadState::downloading()) {
            state = DownloadState::downloadFailed();
            updateState(key, DownloadState::downloadFailed(), false);
        }
        items->setItemValues(records.text(r, 0), key, records.text(r, 2), 0, records.text(r, 4),
                             state);
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
    // One record per key, or the replaced row would come back at the next start.
    execWithKey("delete  from loadrecord where name=?", key);
    execWithKey("delete  from loadmanage where name=?", key);

    m_map.insert(key, number);
    Items *items = appendRow(key);
    if (oper == OperationWord::install())
        items->setItemValues(display, key, size, 99, oper, DownloadState::installing());
    else
        items->setItemValues(display, key, size, progress, oper, DownloadState::downloading());

    const QByteArray d = display.toUtf8();
    const QByteArray k = key.toUtf8();
    const QByteArray s = size.toUtf8();
    const QByteArray state = DownloadState::downloading().toUtf8();
    const QByteArray o = oper.toUtf8();
    const QByteArray n = QByteArray::number(number);
    for (const char *sql : {"insert into loadrecord values(?,?,?,?,?,?)",
                            "insert into loadmanage values(?,?,?,?,?,?)"})
        exec_sql(localDatabase().constData(), sql, d.constData(), k.constData(), s.constData(),
                 state.constData(), o.constData(), n.constData());
}

void LoadDialog::progressSlot(QString key, int percent)
{
    Items *items = itemOf(key);
    if (!items)
        return;
    items->setProgressValue(percent);
    if (percent == 100)
        updateState(key, DownloadState::downloaded(), true);
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
        updateState(key, DownloadState::downloadFailed(), true);
    else if (flag == -2)
        updateState(key, DownloadState::installFailed(), true);
}

void LoadDialog::installSuccess(QString key, QString)
{
    Items *items = itemOf(key);
    if (!items)
        return;
    items->installSuccessShow();
    updateState(key, DownloadState::installed(), true);
    execWithKey("delete from loadmanage where name=?", key);
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
    execWithKey("delete  from loadrecord where name=?", key);
    execWithKey("delete  from loadmanage where name=?", key);
}

void LoadDialog::cancelLoadSlot(QString key, QString oper)
{
    const int number = m_map.value(key, 0);
    delDatafromtable(key);
    emit cancelDownLoadSignal(number, oper, key);
}

void LoadDialog::reLoadSlot(QString key, QString oper)
{
    updateState(key, DownloadState::downloading(), true);
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
        execWithKey("delete from loadrecord where name=?", key);
        execWithKey("delete from loadmanage where name=?", key);
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
