#include "shell/rowfactory.h"

#include "records/codes.h"
#include "records/operationword.h"
#include "shell/operationcontroller.h"
#include "shell/packagetable.h"
#include "shell/shelltexts.h"
#include "tasks/installitem.h"

#include <QSignalBlocker>
#include <QTableWidget>

RowFactory::RowFactory(ClientDemon *demon, OperationController &operations,
                       QTableWidget *uninstallTable)
    : m_demon(demon), m_operations(operations), m_uninstallTable(uninstallTable)
{
}

InstallItem *RowFactory::createController(const RpmData &data, const QStringList &choices,
                                          const QString &text, int row, QTableWidget *table) const
{
    auto *item = new InstallItem(m_demon, data, choices, text, row, table);
    QObject::connect(item, &InstallItem::execTaskSignal, &m_operations,
                     &OperationController::taskEnded);
    QObject::connect(item, &InstallItem::startExecSignal, &m_operations,
                     &OperationController::taskStarting);
    // The controller reads the answer back, so the call must be direct.
    QObject::connect(item, &InstallItem::isRunningSignal, &m_operations,
                     &OperationController::request, Qt::DirectConnection);
    QObject::connect(item, &InstallItem::cancelDownLoadSignal, &m_operations,
                     &OperationController::cancel);
    QObject::connect(item, &InstallItem::progressSignal, &m_operations,
                     &OperationController::progress);
    return item;
}

InstallItem *RowFactory::controllerFor(const RpmData &data, int row, QTableWidget *table) const
{
    if (table == m_uninstallTable)
        return createController(data, {}, OperationWord::uninstall(), row, table);
    // Any other value (a row of a category look-up says -1) gets no controller.
    switch (static_cast<InstallState>(data.m_state)) {
    case StateNotInstalled:
        return controllerForWord(data, OperationWord::quickInstall(), row, table);
    case StateUpgradable:
        return controllerForWord(data, OperationWord::upgrade(), row, table);
    case StateInstalled:
        return controllerForWord(data, OperationWord::openApp(), row, table);
    case StateDownloaded:
        return controllerForWord(data, OperationWord::install(), row, table);
    }
    return nullptr;
}

InstallItem *RowFactory::controllerForWord(const RpmData &data, const QString &word, int row,
                                           QTableWidget *table) const
{
    if (word == OperationWord::quickInstall())
        return createController(data, {OperationWord::quickInstall(), OperationWord::download()},
                                QString(), row, table);
    return createController(data, {}, word, row, table);
}

int RowFactory::appendRow(QTableWidget *table, const RpmData &data, bool checked) const
{
    const int row = table->rowCount();
    table->insertRow(row);
    {
        // "全选" follows the user's ticks, not ours.
        const QSignalBlocker blocker(table);
        PackageTable::setCheckItem(table, row, checked);
    }
    PackageTable::fillRow(table, row, data, controllerFor(data, row, table));
    return row;
}

void RowFactory::rewriteRow(QTableWidget *table, int row, const RpmData &data) const
{
    PackageTable::fillRow(table, row, data, controllerFor(data, row, table));
}

InstallItem *RowFactory::controllerAt(const QTableWidget *table, int row)
{
    if (row < 0 || row >= table->rowCount())
        return nullptr;
    return qobject_cast<InstallItem *>(table->cellWidget(row, PackageTable::ColumnOperation));
}

bool RowFactory::pressIdleRow(QTableWidget *table, const QString &rpm, bool withHidden,
                              QString *pressed)
{
    int row = table->rowCount() - 1;
    while (row >= 0 &&
           ((!withHidden && table->isRowHidden(row)) ||
            PackageTable::text(table, row, PackageTable::ColumnState) != ShellTexts::idle() ||
            PackageTable::text(table, row, PackageTable::ColumnRpm) != rpm))
        --row;
    InstallItem *item = controllerAt(table, row);
    if (!item)
        return false;
    // Taken first: the press may end in a result that replaces the controller.
    if (pressed)
        *pressed = item->objectName();
    item->installAppSlot();
    return true;
}

bool RowFactory::showsOperation(QTableWidget *table)
{
    for (int row = 0; row < table->rowCount(); ++row) {
        if (PackageTable::text(table, row, PackageTable::ColumnState) != ShellTexts::busy())
            continue;
        InstallItem *item = controllerAt(table, row);
        if (item && item->isBusy() && item->isShowingWork())
            return true;
        PackageTable::setText(table, row, PackageTable::ColumnState, ShellTexts::idle());
    }
    return false;
}
