#pragma once

#include "records/rpmdata.h"

#include <QString>
#include <QStringList>

class ClientDemon;
class InstallItem;
class OperationController;
class QTableWidget;

// Makes the rows of both package tables and the controllers in their operation cells, each
// controller connected to the operation controller by the same five connections; finds a
// row's controller again.
class RowFactory
{
public:
    RowFactory(ClientDemon *demon, OperationController &operations, QTableWidget *uninstallTable);

    // A controller offering choices (a selector) or one button word.
    InstallItem *createController(const RpmData &data, const QStringList &choices,
                                  const QString &text, int row, QTableWidget *table) const;
    // The controller a record's install state calls for; "卸载" in the uninstall table.
    InstallItem *controllerFor(const RpmData &data, int row, QTableWidget *table) const;
    // The controller for an operation word: the selector for "一键安装", else that button.
    InstallItem *controllerForWord(const RpmData &data, const QString &word, int row,
                                   QTableWidget *table) const;

    // Appends a row for the record, its check item as given; returns its index.
    int appendRow(QTableWidget *table, const RpmData &data, bool checked) const;
    // Cells 2..12 of an existing row anew, with a new controller.
    void rewriteRow(QTableWidget *table, int row, const RpmData &data) const;

    // The controller in a row's operation cell; null for a row out of range or without one.
    static InstallItem *controllerAt(const QTableWidget *table, int row);
    // A batch's press: the operation of the lowest idle row showing the package string (of a
    // row in sight only, unless withHidden). False when there was no such row to press: no
    // result will come for it. A busy row is not pressed again, its task is queued already.
    // pressed, when given, gets the object name of the controller pressed.
    static bool pressIdleRow(QTableWidget *table, const QString &rpm, bool withHidden,
                             QString *pressed = nullptr);
    // True when a row of the table shows an operation at work; rows marked busy that show
    // none are marked idle again on the way.
    static bool showsOperation(QTableWidget *table);

private:
    ClientDemon *m_demon;
    OperationController &m_operations;
    QTableWidget *m_uninstallTable;
};
