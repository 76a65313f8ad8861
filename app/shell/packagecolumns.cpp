#include "shell/packagecolumns.h"

#include "shell/packagetable.h"

#include <QStringList>
#include <QTableWidget>

const QVector<PackageColumns::Column> &PackageColumns::all()
{
    // clang-format off
    static const QVector<Column> columns{
        // home header, uninstall header, widths home/upgrade/uninstall, in home, visible, field
        {"", "", 20, 0, 20, false, true, nullptr},                                // spacer
        {"", "", 40, 0, 40, false, true, nullptr},                                // check
        {"", "软件名称", 80, 0, 80, true, true, nullptr},                          // icon
        {"软件名称", "", 220, 280, 280, true, true, nullptr},                      // name
        {"版本", "版本", 150, 170, 170, true, true, &RpmData::m_version},           // version
        {"大小", "大小", 80, 140, 140, true, true, nullptr},                        // size
        {"        操作", "        操作", 140, 0, 120, true, true, nullptr},         // operation
        {"rpm", "rpm", 0, 0, 0, false, false, &RpmData::m_rpm},
        {"icon", "icon", 0, 0, 0, false, false, &RpmData::m_icon},
        {"exe", "exe", 0, 0, 0, false, false, &RpmData::m_exec},
        {"type", "type", 0, 0, 0, false, false, &RpmData::m_type},
        {"name", "name", 0, 0, 0, false, false, &RpmData::m_name},
        {"state", "state", 0, 0, 0, false, false, nullptr},
    };
    // clang-format on
    Q_ASSERT(columns.size() == PackageTable::ColumnCount);
    return columns;
}

QStringList PackageColumns::headers(View view)
{
    QStringList headers;
    for (const Column &column : all())
        headers << QString::fromUtf8(view == View::Uninstall ? column.uninstallHeader
                                                             : column.homeHeader);
    return headers;
}

void PackageColumns::apply(QTableWidget *table, View view)
{
    for (int index = 0; index < all().size(); ++index) {
        const Column &column = all().at(index);
        const int width = view == View::Home      ? column.homeWidth
                          : view == View::Upgrade ? column.upgradeWidth
                                                  : column.uninstallWidth;
        if (width > 0)
            table->setColumnWidth(index, width);
    }
    showColumns(table, view);
}

void PackageColumns::showColumns(QTableWidget *table, View view)
{
    for (int index = 0; index < all().size(); ++index) {
        const Column &column = all().at(index);
        const bool shown = column.visible && (view != View::Home || column.inHome);
        if (table->isColumnHidden(index) == shown)
            table->setColumnHidden(index, !shown);
    }
}

void PackageColumns::configure(QTableWidget *table, View view)
{
    PackageTable::configure(table, headers(view));
    apply(table, view);
}

void PackageColumns::fillTexts(QTableWidget *table, int row, const RpmData &data)
{
    for (int index = PackageTable::ColumnRpm; index < all().size(); ++index)
        if (QString RpmData::*field = all().at(index).field)
            PackageTable::setText(table, row, index, data.*field);
}

RpmData PackageColumns::recordAt(const QTableWidget *table, int row)
{
    RpmData data;
    for (int index = 0; index < all().size(); ++index)
        if (QString RpmData::*field = all().at(index).field)
            if (PackageTable::hasItem(table, row, index))
                data.*field = PackageTable::text(table, row, index);
    return data;
}
