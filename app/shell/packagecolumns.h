#pragma once

#include "records/rpmdata.h"

#include <QString>
#include <QVector>

class QTableWidget;

// The columns of both package tables, one entry each: header, widths in each view, whether
// the view shows it, and the record field a text cell keeps and gives back. A new column is a
// new entry here (and in the catalog's schema when the record gains a field).
class PackageColumns
{
public:
    // How a table is shown: the catalog at home, the catalog as the upgrade page, the
    // uninstall table.
    enum class View { Home, Upgrade, Uninstall };

    struct Column {
        const char *homeHeader;      // the catalog table's header
        const char *uninstallHeader; // the uninstall table's
        int homeWidth;               // 0: the width is left as it is
        int upgradeWidth;
        int uninstallWidth;
        bool inHome; // shown in the home view (the others show every visible column)
        bool visible;
        // The record field a hidden text cell keeps, and a row gives back; null for cells
        // that keep none of the record as written.
        QString RpmData::*field;
    };

    // By PackageTable::Column.
    static const QVector<Column> &all();

    static QStringList headers(View view);
    // Widths and shown columns of a view; configure sets up a table for its first view.
    static void apply(QTableWidget *table, View view);
    // Only the shown columns of a view, the widths left as they are.
    static void showColumns(QTableWidget *table, View view);
    static void configure(QTableWidget *table, View view);

    // The text cells of a row from the record, and the record as a row gives it back.
    static void fillTexts(QTableWidget *table, int row, const RpmData &data);
    static RpmData recordAt(const QTableWidget *table, int row);
};
