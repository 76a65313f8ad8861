#include "shell/catalogpage.h"

#include "facade/catalogreader.h"
#include "records/category.h"
#include "records/codes.h"
#include "records/operationword.h"
#include "records/paths.h"
#include "shell/packagecolumns.h"
#include "shell/packagetable.h"
#include "shell/pagestate.h"
#include "shell/rowfactory.h"
#include "shell/searchbox.h"
#include "shell/shelltexts.h"
#include "tasks/installitem.h"

#include <QCheckBox>
#include <QDebug>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QTableWidget>

#include <algorithm>
#include <syslog.h>

namespace
{

constexpr int FirstBatch = 16;
constexpr int ScrollBatch = 11;
// A result list shows rows while fewer than this many are shown.
constexpr int ResultRows = 15;

const char *const CategoryIcons[] = {
    ":/img/all_app.png",     ":/img/office_app.png",   ":/img/program_app.png",
    ":/img/industy_app.png", ":/img/teach_app.png",    ":/img/tools_app.png",
    ":/img/video_app.png",   ":/img/image_app.png",    ":/img/network_app.png",
    ":/img/system_app.png",  ":/img/compress_app.png", ":/img/audio_app.png",
    ":/img/game_app.png",    ":/img/other_app.png",
};

} // namespace

void CatalogPage::setUpCategories(QListWidget *list)
{
    list->clear();
    for (int row = 0; row <= Category::Count; ++row)
        new QListWidgetItem(QIcon(QString::fromLatin1(CategoryIcons[row])),
                            ShellTexts::categoryName(row), list, row);
    list->setFocusPolicy(Qt::NoFocus);
}

void CatalogPage::setUpTable(QTableWidget *table)
{
    PackageColumns::configure(table, PackageColumns::View::Home);
    table->setStyleSheet(ShellTexts::homeTableStyle());
}

CatalogPage::CatalogPage(const Widgets &widgets, CatalogReader &reader, const RowFactory &rows,
                         SearchBox &search, PageState &state)
    : m_widgets(widgets), m_reader(reader), m_rows(rows), m_search(search), m_state(state),
      m_table(widgets.table, widgets.selectAll,
              "***********allPackageScrollChangedSlot***************value=%d,m_allPackage_max=%d,"
              "all_data.size=%d")
{
}

bool CatalogPage::isShown() const
{
    return m_widgets.pages->currentWidget() == m_widgets.page;
}

int CatalogPage::categoryRow(QListWidgetItem *item) const
{
    return m_widgets.categories->row(item);
}

int CatalogPage::appendCatalogRow(const RpmData &data, bool checked)
{
    const int row = m_rows.appendRow(table(), data, checked);
    m_matchingRows.append(row);
    return row;
}

int CatalogPage::appendRow(const RpmData &data)
{
    qDebug() << "****** insertAllPackageContent  start***************";
    const bool checked = m_widgets.selectAll->checkState() == Qt::Checked;
    const int row = appendCatalogRow(data, checked);
    emit rowAdded(row, data);
    qDebug() << "****** insertAllPackageContent  end***************";
    return row;
}

QListWidgetItem *CatalogPage::build(int pendingCategory)
{
    QListWidgetItem *pending =
        pendingCategory >= 0 ? m_widgets.categories->item(pendingCategory) : nullptr;
    m_widgets.categories->setCurrentRow(pending ? pendingCategory : 0);
    loadCatalog();
    return pending;
}

void CatalogPage::loadCatalog()
{
    qDebug() << "************************** getAllPackage()";
    emit homeViewShown();
    PackageColumns::showColumns(table(), PackageColumns::View::Home);
    table()->clearContents();
    m_table.setWaiting(m_reader.list(QueryMode::Everything, QString(), QString()));
    syslog(LOG_ERR, "************************** getAllPackage***********   size=%d\n",
           waiting().size());
    m_widgets.categories->item(0)->setText(
        ShellTexts::countText(ShellTexts::allSoftware(), waiting().size()));
    writeFirstBatch();
}

void CatalogPage::writeFirstBatch()
{
    m_table.takeWaiting(FirstBatch, {}, [this](const RpmData &record) {
        appendCatalogRow(record, false);
        qDebug() << "icon name=" << Paths::iconDirectory() + record.m_icon;
        return true;
    });
}

void CatalogPage::showCurrentCategory()
{
    if (!m_search.text().isEmpty())
        m_search.empty();
    QListWidgetItem *current = m_widgets.categories->currentItem();
    if (!current)
        current = m_widgets.categories->item(0);
    m_state.setCurrentTable(table());
    showCategory(current->text());
    m_widgets.content->setCurrentWidget(m_widgets.contentPage);
}

void CatalogPage::showCategory(const QString &itemText)
{
    const QString category = itemText.section(QLatin1Char(' '), 0, 0);
    const QVector<RpmData> records =
        m_reader.list(QueryMode::Everything, category, m_search.text());
    int row = 1;
    for (int i = 0; i <= Category::Count; ++i) {
        if (itemText.contains(ShellTexts::categoryName(i))) {
            row = i;
            break;
        }
    }
    m_widgets.categories->item(row)->setText(ShellTexts::countText(category, records.size()));
    m_state.setCurrentTable(table());
    qDebug() << "size=" << records.size();
    showResults(records);
}

QList<int> CatalogPage::showResults(const QVector<RpmData> &results)
{
    QTableWidget *widget = table();
    const bool home = m_state.page() == PageState::Home;
    m_table.keepScrollPosition();
    if (home)
        m_matchingRows.clear();
    widget->show();

    if (results.isEmpty()) {
        m_widgets.emptyText->setText(ShellTexts::noResult());
        m_widgets.emptyText->show();
        widget->hide();
        m_widgets.selectAll->hide();
        m_widgets.batchButton->hide();
        return {};
    }
    m_widgets.emptyText->hide();
    m_widgets.selectAll->show();
    m_widgets.batchButton->show();
    m_state.setCurrentTable(widget);

    QList<int> listed;
    QHash<QString, QVector<int>> rowsByName =
        PackageTable::rowsByText(widget, PackageTable::ColumnDisplayName);
    QSet<int> shownRows;
    int shown = 0;
    LazyTable::Taking taking(m_table);
    int nextWaiting = 0;
    for (const RpmData &record : results) {
        for (int row : rowsByName.value(record.m_name)) {
            listed.append(row);
            if (home)
                m_matchingRows.append(row);
            shownRows.insert(row);
            ++shown;
            if (PackageTable::text(widget, row, PackageTable::ColumnRpm) == record.m_rpm ||
                PackageTable::text(widget, row, PackageTable::ColumnState) == ShellTexts::busy())
                break;
            // The server changed the package: the idle row takes the new record.
            rewriteRow(widget, row, record);
        }
        while (shown <= ResultRows) {
            const int index = m_table.findWaiting(record.m_name, record.m_rpm, nextWaiting);
            if (index < 0)
                break;
            nextWaiting = index + 1;
            const int row = appendRow(waiting().at(index));
            rowsByName[PackageTable::text(widget, row, PackageTable::ColumnDisplayName)].append(
                row);
            listed.append(row);
            shownRows.insert(row);
            ++shown;
            taking.take(index);
        }
    }
    PackageTable::showOnly(widget, shownRows);
    return listed;
}

void CatalogPage::search(const QString &text)
{
    table()->show();
    if (!isShown())
        return;
    m_state.setCurrentTable(table());
    if (m_state.page() == PageState::Home)
        showResults(m_reader.list(QueryMode::Everything,
                                  ShellTexts::categoryName(m_widgets.categories->currentRow()),
                                  text));
}

void CatalogPage::rewriteRow(QTableWidget *table, int row, const RpmData &data)
{
    m_rows.rewriteRow(table, row, data);
}

int CatalogPage::loadMore()
{
    m_table.keepScrollPosition();
    int row = m_widgets.categories->currentRow();
    if (row < 0)
        row = 0;
    const QListWidgetItem *item = m_widgets.categories->item(row);
    const bool upgradePage = m_state.page() == PageState::Upgrade;
    // The upgrade page lists every upgradable package whatever category the hidden list holds.
    const QString code =
        (row == 0 || upgradePage || !item) ? QString() : QString::number(item->type());
    const QString text = m_search.text();
    return m_table.takeWaiting(
        ScrollBatch,
        [&](const RpmData &record) {
            return (text.isEmpty() || record.m_name.contains(text)) &&
                   (code.isEmpty() || record.m_type == code) &&
                   (!upgradePage || record.m_state == StateUpgradable);
        },
        [this](const RpmData &record) {
            appendRow(record);
            return true;
        });
}

void CatalogPage::loadOneMore()
{
    const QString text = m_search.text();
    const bool upgradePage = m_state.page() == PageState::Upgrade;
    for (int i = 0; i < waiting().size(); ++i) {
        const RpmData record = waiting().at(i);
        if ((text.isEmpty() || record.m_name.contains(text)) &&
            (!upgradePage || record.m_state == StateUpgradable)) {
            appendRow(record);
            m_table.removeWaitingAt(i);
            return;
        }
    }
}

void CatalogPage::scrolled(int value)
{
    m_table.scrolled(value, [this] { loadMore(); });
}

void CatalogPage::enter()
{
    QTableWidget *widget = table();
    showView(PackageColumns::View::Home);
    emit homeViewShown();

    m_search.restore(m_search.savedText(PageState::Home));

    m_state.setCurrentTable(widget);
    qDebug() << "ui->tableWidget_allPackage->rowCount() = " << widget->rowCount();
    qDebug() << "m_allPackage_row.length = " << m_matchingRows.size();
    PackageTable::showOnly(widget, QSet<int>(m_matchingRows.cbegin(), m_matchingRows.cend()));
    m_widgets.emptyText->setVisible(m_matchingRows.isEmpty());
    widget->setVisible(!m_matchingRows.isEmpty());
    showCurrentCategory();
}

void CatalogPage::showView(PackageColumns::View view)
{
    const bool home = view == PackageColumns::View::Home;
    PackageColumns::apply(table(), view);
    table()->setStyleSheet(home ? ShellTexts::homeTableStyle() : ShellTexts::upgradeTableStyle());
    m_widgets.categories->setVisible(home);
    showContent();
}

void CatalogPage::showLoading()
{
    m_widgets.content->setCurrentWidget(m_widgets.loading);
}

void CatalogPage::showContent()
{
    m_widgets.pages->setCurrentWidget(m_widgets.page);
    m_widgets.content->setCurrentWidget(m_widgets.contentPage);
}

void CatalogPage::updateCategoryCounts()
{
    for (int code = 1; code <= Category::Count; ++code) {
        const QString name = Category::name(code);
        m_widgets.categories->item(code)->setText(ShellTexts::countText(
            name, m_reader.list(QueryMode::Everything, name, QString()).size()));
    }
}

void CatalogPage::refreshWaitingRecords()
{
    // Records without a row wait as the catalog has them now: software added by the server
    // since the first build gets a row when a page or a scroll asks for it, and removed or
    // changed software does not come back as it was.
    QTableWidget *widget = table();
    QSet<QString> shown;
    for (int row = 0; row < widget->rowCount(); ++row)
        shown.insert(PackageTable::text(widget, row, PackageTable::ColumnDisplayName));
    QVector<RpmData> records;
    for (const RpmData &record : m_reader.list(QueryMode::Everything, QString(), QString()))
        if (!shown.contains(record.m_name))
            records.append(record);
    m_table.setWaiting(records);
}

void CatalogPage::refreshWaitingRecord(const QString &name)
{
    for (int i = 0; i < waiting().size(); ++i) {
        if (waiting().at(i).m_name != name)
            continue;
        const RpmData record = catalogRecord(name);
        if (record.m_name.isEmpty())
            m_table.removeWaitingAt(i);
        else
            m_table.replaceWaitingAt(i, record);
        return;
    }
}

void CatalogPage::applyChangedPackages(const QStringList &packages)
{
    m_staleRows.clear();
    if (packages.isEmpty())
        return;
    // The list names package strings; the record of each is found by its package string.
    const QVector<RpmData> catalog = m_reader.list(QueryMode::Everything, QString(), QString());
    QTableWidget *widget = table();
    for (const QString &package : packages) {
        auto found = std::find_if(catalog.cbegin(), catalog.cend(),
                                  [&](const RpmData &r) { return r.m_rpm == package; });
        if (found == catalog.cend())
            continue;
        const RpmData record = *found;
        if (!isShown())
            continue;
        for (int row = 0; row < widget->rowCount(); ++row) {
            if (PackageTable::text(widget, row, PackageTable::ColumnDisplayName) != record.m_name)
                continue;
            if (PackageTable::text(widget, row, PackageTable::ColumnState) == ShellTexts::idle()) {
                rewriteRow(widget, row, record);
                break;
            }
            m_staleRows.insert(record.m_name, true);
        }
    }
}

void CatalogPage::refreshStaleRow(int row)
{
    if (isShown() && !m_staleRows.isEmpty() && row >= 0) {
        const QString name = PackageTable::text(table(), row, PackageTable::ColumnDisplayName);
        if (m_staleRows.value(name, false)) {
            const RpmData record = catalogRecord(name);
            if (!record.m_name.isEmpty())
                rewriteRow(table(), row, record);
        }
    }
    m_staleRows.clear();
}

RpmData CatalogPage::catalogRecord(const QString &name)
{
    // The list query gives the install state as the pages show it (upgradable, downloaded);
    // a lookup by name only tells installed from not installed.
    const QVector<RpmData> records = m_reader.list(QueryMode::Everything, QString(), QString());
    for (const RpmData &record : records)
        if (record.m_name == name)
            return record;
    return RpmData();
}

void CatalogPage::setRowOperation(QTableWidget *widget, const QString &name, const QString &word)
{
    RpmData record = m_reader.record(name);
    int row = PackageTable::findRow(widget, PackageTable::ColumnDisplayName, name);
    if (record.m_name.isEmpty()) {
        // The catalog dropped the package meanwhile: the row keeps what it shows.
        if (row < 0)
            return;
        record = PackageColumns::recordAt(widget, row);
    }
    if (row < 0)
        row = appendRow(record);
    widget->setCellWidget(row, PackageTable::ColumnOperation,
                          m_rows.controllerForWord(record, word, row, widget));
}

int CatalogPage::rowForWaitingKey(const QString &key)
{
    for (int i = 0; i < waiting().size(); ++i) {
        if (waiting().at(i).m_icon == key) {
            appendRow(waiting().at(i));
            m_table.removeWaitingAt(i);
            return table()->rowCount() - 1;
        }
    }
    return -1;
}

int CatalogPage::rowOfKey(const QString &key) const
{
    return PackageTable::findRow(table(), PackageTable::ColumnKey, key);
}

void CatalogPage::markIdle(int row)
{
    PackageTable::setText(table(), row, PackageTable::ColumnState, ShellTexts::idle());
}

int CatalogPage::rowCount() const
{
    return table()->rowCount();
}

QString CatalogPage::cell(int row, int column) const
{
    return PackageTable::text(table(), row, column);
}

bool CatalogPage::hasCell(int row, int column) const
{
    return PackageTable::hasItem(table(), row, column);
}

bool CatalogPage::isRowHidden(int row) const
{
    return table()->isRowHidden(row);
}

void CatalogPage::hideRow(int row)
{
    table()->hideRow(row);
}

bool CatalogPage::isChecked(int row) const
{
    return PackageTable::isChecked(table(), row);
}

void CatalogPage::setChecked(int row, bool checked)
{
    PackageTable::setCheckItem(table(), row, checked);
}

void CatalogPage::markBusy(int row)
{
    PackageTable::setText(table(), row, PackageTable::ColumnState, ShellTexts::busy());
}

InstallItem *CatalogPage::controllerAt(int row) const
{
    return RowFactory::controllerAt(table(), row);
}

bool CatalogPage::pressIdleRow(const QString &rpm, bool withHidden)
{
    return RowFactory::pressIdleRow(table(), rpm, withHidden);
}

void CatalogPage::makeCurrent()
{
    m_state.setCurrentTable(table());
}

Qt::CheckState CatalogPage::selectAllState() const
{
    return m_widgets.selectAll->checkState();
}

void CatalogPage::restoreScrollPosition()
{
    qDebug() << "m_allPackage_valuem_allPackage_value = " << m_table.scrollValue();
    m_table.restoreScrollPosition();
}

QString CatalogPage::failedPackage(int row, const QString &key) const
{
    if (row < 0)
        return key;
    return PackageTable::text(table(), row, PackageTable::ColumnRpm);
}
