#include "shell/upgradepage.h"

#include "facade/clientdemon.h"
#include "shell/catalogpage.h"
#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shell/shelltexts.h"
#include "tasks/installitem.h"
#include "ui_mainwindow.h"

#include <QDebug>

UpgradePage::UpgradePage(MainWindow *window, Ui::MainWindow *ui, ClientDemon *demon,
                         CatalogPage &catalog)
    : m_window(window), ui(ui), m_demon(demon), m_catalog(catalog)
{
}

void UpgradePage::enter()
{
    ui->stackedWidget->setCurrentWidget(ui->page_allPackage);
    ui->stackedWidget_content->setCurrentWidget(ui->page_content);

    QTableWidget *table = m_catalog.table();
    table->showColumn(PackageTable::ColumnSpacer);
    table->showColumn(PackageTable::ColumnCheck);
    table->setColumnWidth(PackageTable::ColumnName, 280);
    table->setColumnWidth(PackageTable::ColumnVersion, 170);
    table->setColumnWidth(PackageTable::ColumnSize, 140);
    table->setStyleSheet(ShellTexts::upgradeTableStyle());
    ui->frame->show();
    ui->label_update_info->setVisible(true);
    ui->pushButton_update->setVisible(true);
    ui->listWidget->hide();

    m_window->emptySearchBox();
    m_window->on_btn_search_clicked();

    const Qt::CheckState state = ui->checkBox_update->checkState();
    m_window->initTableUpdatePackage();
    m_catalog.lazyTable().setSelectAllState(state);
}

void UpgradePage::loadList()
{
    qDebug() << "********************  getUpdatePackage()";
    m_window->setCurrentTable(m_catalog.table());
    const QVector<RpmData> list = m_demon->selectSoftware(
        1, QString(), m_window->searchBox().savedText(MainWindow::PageUpgrade));
    showCount(list.size());
    m_window->searchAllTable(list);
}

void UpgradePage::showCount(int count)
{
    ui->label_update_info->setText(QStringLiteral("     总共") + QString::number(count) +
                                   QStringLiteral("款软件可更新"));
    showBadge(count);
}

void UpgradePage::showBadge(int count)
{
    if (count < 1) {
        ui->btn_num->hide();
    } else {
        ui->btn_num->setText(QString::number(count));
        ui->btn_num->show();
    }
}

void UpgradePage::refreshCount()
{
    showCount(m_demon->selectSoftware(1, QString(), QString()).size());
}

void UpgradePage::selectAllClicked()
{
    m_catalog.lazyTable().applySelectAll(true);
}

void UpgradePage::checkItemChanged(QTableWidgetItem *item)
{
    m_catalog.lazyTable().checkItemChanged(item);
}

void UpgradePage::cellClicked(int row, int column)
{
    m_catalog.lazyTable().keepScrollPosition();
    QTableWidget *table = m_catalog.table();
    if (column != PackageTable::ColumnCheck || table->isRowHidden(row))
        return;
    int visible = 0;
    int unchecked = 0;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (table->isRowHidden(r))
            continue;
        ++visible;
        if (!PackageTable::isChecked(table, r))
            ++unchecked;
    }
    if (unchecked != visible && (visible == 0 || unchecked != 0))
        return;
    const bool check = unchecked != visible;
    for (int r = 0; r < table->rowCount(); ++r)
        if (table->isRowHidden(r))
            PackageTable::setCheckItem(table, r, check);
}

void UpgradePage::upgradeSelected()
{
    if (m_running)
        return;
    m_running = true;
    qDebug() << "**********************  on_btn_update_soft_clicked()";
    if (!m_pending.isEmpty()) {
        m_window->showMessage(QStringLiteral("正在升级软件！"));
        m_running = false;
        return;
    }
    QTableWidget *table = m_catalog.table();
    m_rowsPresent = 0;
    for (int row = table->rowCount() - 1; row >= 0; --row) {
        if (table->isRowHidden(row))
            continue;
        ++m_rowsPresent;
        if (PackageTable::isChecked(table, row))
            m_pending.append(PackageTable::text(table, row, PackageTable::ColumnRpm));
    }
    if (m_pending.isEmpty()) {
        m_window->showMessage(QStringLiteral("请选择升级的软件！"));
        m_running = false;
        return;
    }
    m_window->execUpdateSlot();
}

void UpgradePage::runBatch()
{
    const int total = ui->btn_num->isHidden() ? 0 : ui->btn_num->text().toInt();
    while (m_rowsPresent != total) {
        const int before = m_rowsPresent;
        m_window->loadAllPackageNewData();
        if (m_rowsPresent == before)
            break;
    }
    m_batchIndex = 0;
    QTableWidget *table = m_catalog.table();
    // A refused upgrade leaves the list while this loop runs.
    const QVector<QString> batch = m_pending;
    for (const QString &rpm : batch) {
        ++m_batchIndex;
        qDebug() << "update :rpm_name" << rpm;
        for (int row = table->rowCount() - 1; row >= 0; --row) {
            if (table->isRowHidden(row) ||
                PackageTable::text(table, row, PackageTable::ColumnRpm) != rpm)
                continue;
            if (InstallItem *item = m_window->controllerAt(table, row))
                item->installAppSlot();
            break;
        }
    }
    refreshCount();
    m_running = false;
}

void UpgradePage::dropFromBatch(const QString &rpm)
{
    if (!m_pending.contains(rpm))
        return;
    m_pending.removeAll(rpm);
    --m_batchIndex;
}

void UpgradePage::upgradeFinished(const QString &rpm)
{
    if (!m_pending.contains(rpm))
        return;
    dropFromBatch(rpm);
    if (m_batchIndex == 0)
        m_catalog.lazyTable().setSelectAllState(
            m_catalog.lazyTable().selectionState(true, Qt::Unchecked));
}
