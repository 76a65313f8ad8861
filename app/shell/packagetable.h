#pragma once

#include "records/rpmdata.h"

#include <QHash>
#include <QSet>
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
    // Keeps a shown table out of sight while many of its rows are added, shown or hidden: Qt
    // places every cell widget of a shown table again after each such change, so the work
    // grows with the square of the rows; out of sight the table is laid out once, before it
    // is drawn again. No event is handled in between, so nothing flickers.
    class OutOfSight
    {
    public:
        explicit OutOfSight(QTableWidget *table);
        ~OutOfSight();
        OutOfSight(const OutOfSight &) = delete;
        OutOfSight &operator=(const OutOfSight &) = delete;

    private:
        QTableWidget *m_table;
        bool m_wasVisible;
    };

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

    // Columns, header, row height and the fixed look both tables share (PackageColumns gives
    // the headers, widths and shown columns).
    static void configure(QTableWidget *table, const QStringList &headers);

    // A widget into a cell, sized as the cell.
    static void setCellWidget(QTableWidget *table, int row, int column, QWidget *widget);
    // Shows the rows given and hides the others.
    static void showOnly(QTableWidget *table, const QSet<int> &rows);

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
    // Every row by the text of its cell, top to bottom: what findRow scans, for one pass.
    static QHash<QString, QVector<int>> rowsByText(const QTableWidget *table, int column);

    // Five star images for a rating of 0..5 and more; "error" for a negative one.
    static QString starText(int stars);
    // Bytes as megabytes with two decimals: 2500000 is "2.50M".
    static QString sizeText(const QString &bytes);
    static QString nameHtml(const RpmData &data);
    static QString descriptionToolTip(const RpmData &data);
    // The mark after an upgradable row's name when it brings security fixes, and the tooltip
    // that lists them (advisory ids and CVEs), the description after.
    static QString securityHtml(const RpmData &data);
    static QString securityToolTip(const RpmData &data);
};
