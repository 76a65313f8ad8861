#include "shell/packagetable.h"
#include "shell/packagecolumns.h"
#include "widgets/iconlabel.h"
#include "widgets/richtextlabel.h"

#include "records/paths.h"
#include "records/quoting.h"
#include "sync/packageadvisories.h"

#include <QHeaderView>
#include <QLabel>
#include <QPixmap>
#include <QTableWidget>
#include <QTableWidgetItem>

namespace
{

constexpr int RowHeight = 85;
constexpr int IconSize = 48;
// Longer texts also get the whole text as tool tip, the cell being too narrow for them.
constexpr int ToolTipLength = 15;

QLabel *iconLabel(const QString &icon)
{
    // An icon name that is not one file name below the icon directory is never opened.
    auto *label = new IconLabel(Quoting::isSafePathComponent(icon) ? Paths::iconDirectory() + icon
                                                                   : QString(),
                                QSize(IconSize, IconSize));
    label->setAlignment(Qt::AlignHCenter | Qt::AlignVCenter);
    return label;
}

} // namespace

PackageTable::OutOfSight::OutOfSight(QTableWidget *table)
    : m_table(table), m_wasVisible(table->isVisible())
{
    if (m_wasVisible)
        m_table->hide();
}

PackageTable::OutOfSight::~OutOfSight()
{
    if (!m_wasVisible)
        return;
    // Cell widgets placed before the table is shown: unplaced, they all lie in sight.
    m_table->doItemsLayout();
    m_table->show();
}

void PackageTable::configure(QTableWidget *table, const QStringList &headers)
{
    table->setColumnCount(ColumnCount);
    table->setHorizontalHeaderLabels(headers);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionMode(QAbstractItemView::NoSelection);
    table->horizontalHeader()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    table->horizontalHeader()->setStretchLastSection(true);
    table->horizontalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setVisible(false);
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(RowHeight);
    table->setShowGrid(false);
}

void PackageTable::setCellWidget(QTableWidget *table, int row, int column, QWidget *widget)
{
    // Sized as its cell before the table shows it: a widget shown unsized computes its size
    // hint first, which for a label is a layout of its whole text.
    widget->resize(table->columnWidth(column), table->rowHeight(row));
    table->setCellWidget(row, column, widget);
}

void PackageTable::showOnly(QTableWidget *table, const QSet<int> &rows)
{
    // Only the rows that change: a result list mostly shows what was shown before, and every
    // row hidden or shown costs the table a layout pass.
    for (int row = 0; row < table->rowCount(); ++row) {
        const bool hidden = !rows.contains(row);
        if (table->isRowHidden(row) != hidden)
            table->setRowHidden(row, hidden);
    }
}

void PackageTable::fillRow(QTableWidget *table, int row, const RpmData &data, QWidget *controller)
{
    setCellWidget(table, row, ColumnIcon, iconLabel(data.m_icon));

    auto *name = new RichTextLabel(nameHtml(data));
    if (data.m_description.size() > ToolTipLength)
        name->setToolTip(descriptionToolTip(data));
    if (!data.m_advisories.isEmpty())
        name->setToolTip(securityToolTip(data));
    setCellWidget(table, row, ColumnName, name);

    auto *version = new QTableWidgetItem(data.m_version);
    if (data.m_version.size() > ToolTipLength)
        version->setToolTip(data.m_version);
    table->setItem(row, ColumnVersion, version);
    table->setItem(row, ColumnSize, new QTableWidgetItem(sizeText(data.m_size)));

    if (controller)
        setCellWidget(table, row, ColumnOperation, controller);
    else
        table->removeCellWidget(row, ColumnOperation);

    PackageColumns::fillTexts(table, row, data);
    setText(table, row, ColumnState, QStringLiteral("0"));
}

void PackageTable::setCheckItem(QTableWidget *table, int row, bool checked)
{
    auto *item = new QTableWidgetItem;
    item->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
    table->setItem(row, ColumnCheck, item);
}

bool PackageTable::isChecked(const QTableWidget *table, int row)
{
    const QTableWidgetItem *item = table->item(row, ColumnCheck);
    return item && item->checkState() == Qt::Checked;
}

QString PackageTable::text(const QTableWidget *table, int row, int column)
{
    const QTableWidgetItem *item = table->item(row, column);
    return item ? item->text() : QString();
}

void PackageTable::setText(QTableWidget *table, int row, int column, const QString &text)
{
    if (QTableWidgetItem *item = table->item(row, column))
        item->setText(text);
    else
        table->setItem(row, column, new QTableWidgetItem(text));
}

bool PackageTable::hasItem(const QTableWidget *table, int row, int column)
{
    return table->item(row, column) != nullptr;
}

int PackageTable::findRow(const QTableWidget *table, int column, const QString &value)
{
    for (int row = 0; row < table->rowCount(); ++row) {
        const QTableWidgetItem *item = table->item(row, column);
        if (item && item->text() == value)
            return row;
    }
    return -1;
}

QHash<QString, QVector<int>> PackageTable::rowsByText(const QTableWidget *table, int column)
{
    QHash<QString, QVector<int>> rows;
    rows.reserve(table->rowCount());
    for (int row = 0; row < table->rowCount(); ++row)
        if (const QTableWidgetItem *item = table->item(row, column))
            rows[item->text()].append(row);
    return rows;
}

QString PackageTable::starText(int stars)
{
    if (stars < 0)
        return QStringLiteral("error");
    QString text;
    for (int i = 0; i < 5; ++i)
        text += i < stars ? QStringLiteral("<img src=':/img/full_star.png'>")
                          : QStringLiteral("<img src=':/img/empty_star.png'>");
    return text;
}

QString PackageTable::sizeText(const QString &bytes)
{
    const double megabytes = bytes.toLongLong() / 1000.0 / 1000.0;
    return QString::number(megabytes, 'f', 2) + QLatin1Char('M');
}

QString PackageTable::nameHtml(const RpmData &data)
{
    // Catalog texts are shown as text, never interpreted as markup.
    return QStringLiteral("<html><body><div style = 'margin-top:10px;'>") +
           data.m_name.toHtmlEscaped() + securityHtml(data) +
           QStringLiteral("</div><div style = 'margin-top:10px;'>") +
           starText(data.m_star.toInt()) +
           QStringLiteral("</div></br><div style = 'color:#ababab;margin-top:1px;'>") +
           data.m_description.toHtmlEscaped() + QStringLiteral("</div></body></html>");
}

QString PackageTable::securityHtml(const RpmData &data)
{
    const QVector<PackageAdvisories::Advisory> advisories =
        PackageAdvisories::parse(data.m_advisories);
    if (advisories.isEmpty())
        return QString();
    return QStringLiteral("&nbsp;&nbsp;<span id='security' style='color:#ffffff;background:%1;'>"
                          "&nbsp;%2&nbsp;</span>")
        .arg(PackageAdvisories::rank(advisories.first().severity) >= 3 ? QLatin1String("#c0392b")
                                                                       : QLatin1String("#d98b1e"),
             PackageAdvisories::securityMark(advisories.first().severity));
}

QString PackageTable::securityToolTip(const RpmData &data)
{
    QString lines;
    for (const PackageAdvisories::Advisory &advisory : PackageAdvisories::parse(data.m_advisories))
        lines += QStringLiteral("<div>%1 (%2): %3</div>")
                     .arg(advisory.id.toHtmlEscaped(),
                          PackageAdvisories::securityMark(advisory.severity),
                          advisory.cves.join(QStringLiteral(", ")).toHtmlEscaped());
    return QStringLiteral("<html><body>") + lines +
           (data.m_description.size() > ToolTipLength
                ? QStringLiteral("<div style = 'color:#ababab;margin-top:10px;'>") +
                      data.m_description.toHtmlEscaped() + QStringLiteral("</div>")
                : QString()) +
           QStringLiteral("</body></html>");
}

QString PackageTable::descriptionToolTip(const RpmData &data)
{
    return QStringLiteral("<html><body><div style = 'color:#ababab;margin-top:10px;'>") +
           data.m_description.toHtmlEscaped() + QStringLiteral("</div></body></html>");
}
