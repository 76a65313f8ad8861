#pragma once

#include "records/rpmdata.h"

#include <QString>
#include <QStringList>

class ClientDemon;
class InstallItem;
class MainWindow;
class QTableWidget;

// Makes the rows of both package tables and the controllers in their operation cells, each
// controller connected to the window by the same five connections.
class RowFactory
{
public:
    RowFactory(MainWindow *window, ClientDemon *demon, QTableWidget *uninstallTable);

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

private:
    MainWindow *m_window;
    ClientDemon *m_demon;
    QTableWidget *m_uninstallTable;
};
