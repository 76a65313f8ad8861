#pragma once

#include "rpmdata.h"

#include <QString>
#include <QVector>

class QTableWidget;
class QWidget;

// The thirteen-column package row shared by the catalog and the uninstall tables: the visible
// cells a user reads and the hidden cells (package string, task key, command line, category,
// display name, busy mark) by which the window finds a row again.
class PackageTable
{
public:
    enum Column {
        ColumnSpacer = 0,
        ColumnCheck = 1,
        ColumnIcon = 2,
        ColumnName = 3,
        ColumnVersion = 4,
        ColumnSize = 5,
        ColumnOperation = 6,
        ColumnRpm = 7,
        ColumnKey = 8,
        ColumnExec = 9,
        ColumnType = 10,
        ColumnDisplayName = 11,
        ColumnState = 12,
        ColumnCount = 13,
    };

    // Columns, header, row height and the fixed look both tables share; widths of columns 0..6.
    static void configure(QTableWidget *table, const QStringList &headers,
                          const QVector<int> &widths);
    static void setWidths(QTableWidget *table, const QVector<int> &widths);

    // Cells 2..12 of a row from a record, the controller (may be null) going into column 6.
    static void fillRow(QTableWidget *table, int row, const RpmData &data, QWidget *controller);
    // The check item of column 1.
    static void setCheckItem(QTableWidget *table, int row, bool checked);
    static bool isChecked(const QTableWidget *table, int row);

    // The text of a cell; empty when the cell holds no item.
    static QString text(const QTableWidget *table, int row, int column);
    static void setText(QTableWidget *table, int row, int column, const QString &text);
    static bool hasItem(const QTableWidget *table, int row, int column);
    // The first row from the top whose cell equals value, or -1.
    static int findRow(const QTableWidget *table, int column, const QString &value);

    // Five star images for a rating of 0..5 and more; "error" for a negative one.
    static QString starText(int stars);
    // Bytes as megabytes with two decimals: 2500000 is "2.50M".
    static QString sizeText(const QString &bytes);
    static QString nameHtml(const RpmData &data);
    static QString descriptionToolTip(const RpmData &data);
};
