#include "facade/catalogreader.h"
#include "records/codes.h"
#include "records/operationword.h"
#include "shell/catalogpage.h"
#include "shell/dialogpresenter.h"
#include "shell/lazytable.h"
#include "shell/loadinganimation.h"
#include "shell/operationcontroller.h"
#include "shell/packagecolumns.h"
#include "shell/packagetable.h"
#include "shell/pagestate.h"
#include "shell/queueworkers.h"
#include "shell/rowfactory.h"
#include "shell/searchbox.h"
#include "shell/taskrequests.h"
#include "shell/upgradepage.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>
#include <QWidget>

#include <algorithm>
#include <optional>

namespace
{

// A page as the controller sees it: answers as told and keeps what it was asked.
struct RecordingPage : TaskRequests {
    bool answer = false;
    QList<std::tuple<int, Operation, QString, bool>> asked;

    bool request(int row, Operation operation, const QString &rpm, bool mayProceed) override
    {
        asked.append({row, operation, rpm, mayProceed});
        return answer;
    }
};

// The catalog a page reads, held in memory: the page's own filters are what is tested.
struct MemoryCatalog : CatalogReader {
    QVector<RpmData> rows;

    QVector<RpmData> list(QueryMode mode, const QString &, const QString &keyword) override
    {
        QVector<RpmData> kept;
        for (const RpmData &row : qAsConst(rows))
            if ((mode != QueryMode::Upgradable || row.m_state == StateUpgradable) &&
                row.m_name.contains(keyword))
                kept << row;
        return kept;
    }
    RpmData record(const QString &name) override
    {
        for (const RpmData &row : qAsConst(rows))
            if (row.m_name == name)
                return row;
        return RpmData();
    }
    QHash<QString, RpmData> records(const QSet<QString> &names) override
    {
        QHash<QString, RpmData> found;
        for (const QString &name : names)
            found.insert(name, record(name));
        return found;
    }
};

RpmData record(const QString &name)
{
    RpmData data;
    data.m_name = name;
    data.m_rpm = name + QStringLiteral("-1.0-1");
    return data;
}

// The catalog page on a catalog of pkg-0 … pkg-(n-1), every third upgradable, built as at
// start-up: the first batch of rows, the rest waiting.
struct CatalogParts {
    explicit CatalogParts(int records)
    {
        for (int i = 0; i < records; ++i) {
            RpmData data = record(QStringLiteral("pkg-%1").arg(i));
            data.m_icon = QStringLiteral("key-%1").arg(i);
            data.m_state = i % 3 == 0 ? StateUpgradable : StateNotInstalled;
            catalog.rows << data;
        }
        CatalogPage::setUpCategories(&categories);
        CatalogPage::setUpTable(&table);
        page.build(-1);
    }

    MemoryCatalog catalog;
    QWidget window;
    QStackedWidget pages, content;
    QWidget homePage, loading, contentPage;
    QListWidget categories;
    QTableWidget table, uninstallTable;
    QCheckBox selectAll;
    QPushButton batch;
    QLabel empty, picture, hint;
    QLineEdit edit;
    DialogPresenter dialogs{&window};
    OperationController controller{QueueWorkers{}, nullptr, dialogs};
    RowFactory rows{nullptr, controller, &uninstallTable};
    LoadingAnimation animation{&picture, &window};
    SearchBox box{&edit, &hint, &window, animation};
    PageState state;
    CatalogPage page{{&pages, &homePage, &content, &loading, &contentPage, &categories, &table,
                      &selectAll, &batch, &empty},
                     catalog,
                     rows,
                     box,
                     state};
};

QStringList namesOf(const QVector<RpmData> &records)
{
    QStringList names;
    for (const RpmData &data : records)
        names << data.m_name;
    return names;
}

} // namespace

// The window's parts one at a time, without a window: fast, offscreen.
class TestParts : public QObject
{
    Q_OBJECT

private slots:
    void requestsGoToTheirTablesPage_data()
    {
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("word");
        QTest::addColumn<bool>("forgotten");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<QString>("asked");
        QTest::addColumn<bool>("expected");
        QTest::newRow("catalog row, accepted")
            << "catalog"
            << "一键安装" << false << false << "catalog" << false;
        QTest::newRow("catalog row, refused") << "catalog"
                                              << "升级" << false << true << "catalog" << true;
        QTest::newRow("uninstall row, confirmed") << "uninstall"
                                                  << "卸载" << false << true << "uninstall" << true;
        QTest::newRow("uninstall row, declined")
            << "uninstall"
            << "卸载" << false << false << "uninstall" << false;
        QTest::newRow("table without a page") << "stray"
                                              << "下载" << false << true << "" << false;
        QTest::newRow("page gone") << "catalog"
                                   << "安装" << true << true << "" << false;
        QTest::newRow("opening asks nobody") << "catalog"
                                             << "打开软件" << false << true << "" << false;
        QTest::newRow("word of no operation") << "catalog"
                                              << "" << false << true << "" << false;
        QTest::newRow("word of a newer version") << "uninstall"
                                                 << "卸载所选软件" << false << true << "" << false;
    }

    void requestsGoToTheirTablesPage()
    {
        QFETCH(QString, table);
        QFETCH(QString, word);
        QFETCH(bool, forgotten);
        QFETCH(bool, answer);
        QFETCH(QString, asked);
        QWidget window;
        DialogPresenter dialogs(&window);
        OperationController controller(QueueWorkers{}, nullptr, dialogs);
        QTableWidget catalog, uninstall, stray;
        const QHash<QString, QTableWidget *> tables{
            {"catalog", &catalog}, {"uninstall", &uninstall}, {"stray", &stray}};
        RecordingPage replaced, catalogPage, uninstallPage;
        // A page registered again replaces the first: one table, one answer.
        controller.setRequests(&catalog, &replaced);
        controller.setRequests(&catalog, &catalogPage);
        controller.setRequests(&uninstall, &uninstallPage);
        if (forgotten)
            controller.setRequests(&catalog, nullptr);
        const QHash<QString, RecordingPage *> pages{{"catalog", &catalogPage},
                                                    {"uninstall", &uninstallPage}};
        for (RecordingPage *page : pages)
            page->answer = answer;

        const QString rpm = QStringLiteral("cv-a-1.0-1");
        QTEST(controller.request(4, tables.value(table), word, rpm, false), "expected");
        QVERIFY(replaced.asked.isEmpty());
        for (auto page = pages.cbegin(); page != pages.cend(); ++page) {
            if (page.key() != asked) {
                QVERIFY2(page.value()->asked.isEmpty(), qPrintable(page.key()));
                continue;
            }
            QCOMPARE(page.value()->asked.size(), 1);
            const auto &[row, operation, askedRpm, mayProceed] = page.value()->asked.first();
            QCOMPARE(row, 4);
            QCOMPARE(OperationWord::of(operation), word);
            QCOMPARE(askedRpm, rpm);
            QCOMPARE(mayProceed, false);
        }
    }

    void batchesTakeWaitingRecordsOnce_data()
    {
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QStringList>("refused");
        QTest::addColumn<QStringList>("added");
        QTest::addColumn<QStringList>("left");
        const QStringList none;
        QTest::newRow("up to the limit, in order")
            << 3 << "" << none << QStringList{"a1", "b1", "a2"} << QStringList{"b2", "a3"};
        QTest::newRow("filter skips, order kept")
            << 2 << "a" << none << QStringList{"a1", "a2"} << QStringList{"b1", "b2", "a3"};
        QTest::newRow("refused leave, not counted")
            << 2 << "a" << QStringList{"a1"} << QStringList{"a2", "a3"} << QStringList{"b1", "b2"};
        QTest::newRow("limit past the list")
            << 10 << "b" << none << QStringList{"b1", "b2"} << QStringList{"a1", "a2", "a3"};
        QTest::newRow("nothing passes")
            << 5 << "z" << none << none << QStringList{"a1", "b1", "a2", "b2", "a3"};
    }

    void batchesTakeWaitingRecordsOnce()
    {
        QFETCH(int, limit);
        QFETCH(QString, prefix);
        QFETCH(QStringList, refused);
        QFETCH(QStringList, added);
        QFETCH(QStringList, left);
        QTableWidget widget;
        QCheckBox box;
        LazyTable table(&widget, &box, "%d %d %d");
        QVector<RpmData> records;
        for (const char *name : {"a1", "b1", "a2", "b2", "a3"})
            records << record(QString::fromLatin1(name));
        table.setWaiting(records);

        QStringList took;
        const int count = table.takeWaiting(
            limit,
            prefix.isEmpty() ? LazyTable::Filter()
                             : [&](const RpmData &r) { return r.m_name.startsWith(prefix); },
            [&](const RpmData &r) {
                if (refused.contains(r.m_name))
                    return false;
                took << r.m_name;
                return true;
            });
        QCOMPARE(took, added);
        QCOMPARE(count, added.size());
        QCOMPARE(namesOf(table.waiting()), left);
        // Taken and refused records are gone for the look-ups too; the others are found.
        for (const RpmData &r : records)
            QCOMPARE(table.findWaiting(r.m_name, r.m_rpm) >= 0, left.contains(r.m_name));
    }

    void rowsGiveBackTheirRecord_data()
    {
        QTest::addColumn<QStringList>("fields"); // rpm, key, exec, type, name, version
        QTest::newRow("plain") << QStringList{"cv-a-1.0-1", "a", "/usr/bin/a", "3", "甲", "1.0"};
        QTest::newRow("markup and quotes")
            << QStringList{"cv-b'-1-1", "b", "sh -c 'x' \"$(y)\"", "13", "<b>乙</b>", "2:1.0"};
        QTest::newRow("empty cells") << QStringList{"", "", "", "", "", ""};
        QTest::newRow("long version")
            << QStringList{"cv-c-1-1", "c", "c", "1", "丙", QString(40, QLatin1Char('9'))};
    }

    void rowsGiveBackTheirRecord()
    {
        QFETCH(QStringList, fields);
        RpmData data;
        QString RpmData::*const order[] = {&RpmData::m_rpm,  &RpmData::m_icon, &RpmData::m_exec,
                                           &RpmData::m_type, &RpmData::m_name, &RpmData::m_version};
        for (int i = 0; i < fields.size(); ++i)
            data.*order[i] = fields.at(i);
        data.m_size = QStringLiteral("2500000");
        data.m_description = QStringLiteral("说明");
        QTableWidget table;
        PackageColumns::configure(&table, PackageColumns::View::Home);
        table.insertRow(0);
        table.insertRow(1);
        PackageTable::fillRow(&table, 1, data, nullptr);

        const RpmData back = PackageColumns::recordAt(&table, 1);
        for (int i = 0; i < fields.size(); ++i)
            QCOMPARE(back.*order[i], fields.at(i));
        // What a row shows is not the record's: the size is shown as megabytes.
        QCOMPARE(back.m_size, QString());
        QCOMPARE(PackageTable::text(&table, 1, PackageTable::ColumnSize), QStringLiteral("2.50M"));
        QCOMPARE(PackageColumns::recordAt(&table, 0).m_rpm, QString());
    }

    void securityMark_data()
    {
        QTest::addColumn<QString>("advisories");
        QTest::addColumn<QString>("mark");    // in the name cell, "" none
        QTest::addColumn<QString>("tooltip"); // part of it
        QTest::newRow("none") << ""
                              << ""
                              << "";
        QTest::newRow("critical") << "A1,security,critical,2.0-1,CVE-2026-1111,CVE-2026-2222"
                                  << "安全更新·严重"
                                  << "A1 (安全更新·严重): CVE-2026-1111, CVE-2026-2222";
        QTest::newRow("unknown severity, two advisories")
            << "A2,security,,2.0-1 A3,security,low,1.9-1"
            << "安全更新&nbsp;</span>"
            << "A3 (安全更新·低): ";
    }

    // An addition to the row: the name, the columns and the description stay as they were.
    void securityMark()
    {
        QFETCH(QString, advisories);
        QFETCH(QString, mark);
        QFETCH(QString, tooltip);
        RpmData data;
        data.m_name = QStringLiteral("<i>甲</i>");
        data.m_version = QStringLiteral("2.0-1");
        data.m_description = QStringLiteral("a description longer than the tooltip's bound");
        data.m_advisories = advisories;
        QTableWidget table;
        PackageColumns::configure(&table, PackageColumns::View::Upgrade);
        table.insertRow(0);
        PackageTable::fillRow(&table, 0, data, nullptr);
        const auto *name = qobject_cast<QLabel *>(table.cellWidget(0, PackageTable::ColumnName));
        QVERIFY(name);
        QVERIFY(name->text().contains(QStringLiteral("&lt;i&gt;甲&lt;/i&gt;")));
        QCOMPARE(name->text().contains(QStringLiteral("id='security'")), !mark.isEmpty());
        QVERIFY(name->text().contains(mark));
        QVERIFY(name->toolTip().contains(tooltip));
        QVERIFY(name->toolTip().contains(data.m_description));
        QCOMPARE(PackageTable::text(&table, 0, PackageTable::ColumnVersion), data.m_version);
    }

    void viewsShowTheirColumns_data()
    {
        QTest::addColumn<int>("view");
        QTest::addColumn<QList<int>>("shown");
        QTest::addColumn<QList<int>>("widths"); // name, version, size
        QTest::newRow("home") << int(PackageColumns::View::Home) << QList<int>{2, 3, 4, 5, 6}
                              << QList<int>{220, 150, 80};
        QTest::newRow("upgrade") << int(PackageColumns::View::Upgrade)
                                 << QList<int>{0, 1, 2, 3, 4, 5, 6} << QList<int>{280, 170, 140};
        QTest::newRow("uninstall") << int(PackageColumns::View::Uninstall)
                                   << QList<int>{0, 1, 2, 3, 4, 5, 6} << QList<int>{280, 170, 140};
    }

    void viewsShowTheirColumns()
    {
        QFETCH(int, view);
        QFETCH(QList<int>, shown);
        QFETCH(QList<int>, widths);
        QTableWidget table;
        // From the other views to this one, as the pages switch.
        PackageColumns::configure(&table, PackageColumns::View::Uninstall);
        PackageColumns::apply(&table, PackageColumns::View::Home);
        PackageColumns::apply(&table, PackageColumns::View::Upgrade);
        PackageColumns::apply(&table, PackageColumns::View(view));
        QList<int> visible;
        for (int column = 0; column < table.columnCount(); ++column)
            if (!table.isColumnHidden(column))
                visible << column;
        QCOMPARE(table.columnCount(), int(PackageTable::ColumnCount));
        QCOMPARE(visible, shown);
        QCOMPARE((QList<int>{table.columnWidth(PackageTable::ColumnName),
                             table.columnWidth(PackageTable::ColumnVersion),
                             table.columnWidth(PackageTable::ColumnSize)}),
                 widths);
    }

    void loadMoreSaysWhatItAdded_data()
    {
        QTest::addColumn<int>("records");
        QTest::addColumn<int>("page");
        QTest::addColumn<QString>("search");
        QTest::addColumn<QList<int>>("added"); // by each loadMore until none is left
        // Every third record is upgradable; the first batch takes 16 whatever they are.
        QTest::newRow("home") << 50 << int(PageState::Home) << "" << QList<int>{11, 11, 11, 1, 0};
        QTest::newRow("home, short catalog") << 10 << int(PageState::Home) << "" << QList<int>{0};
        QTest::newRow("upgrade page, upgradable only")
            << 80 << int(PageState::Upgrade) << "" << QList<int>{11, 10, 0};
        QTest::newRow("search") << 50 << int(PageState::Home) << "pkg-4" << QList<int>{10, 0};
    }

    void loadMoreSaysWhatItAdded()
    {
        QFETCH(int, records);
        QFETCH(int, page);
        QFETCH(QString, search);
        QFETCH(QList<int>, added);
        CatalogParts parts(records);
        CatalogPage &catalogPage = parts.page;
        const int first = qMin(records, 16);
        QCOMPARE(catalogPage.rowCount(), first);
        parts.state.setPage(page);
        parts.edit.setText(search);

        QList<int> counts;
        int before = catalogPage.rowCount();
        do {
            counts << catalogPage.loadMore();
            QCOMPARE(catalogPage.rowCount(), before + counts.last());
            before = catalogPage.rowCount();
        } while (counts.last() > 0 && counts.size() < 20);
        QCOMPARE(counts, added);
        for (int row = first; row < catalogPage.rowCount(); ++row) {
            const QString name = catalogPage.cell(row, PackageTable::ColumnDisplayName);
            QVERIFY(name.contains(search));
            if (page == PageState::Upgrade)
                QCOMPARE(name.mid(4).toInt() % 3, 0);
        }
    }

    // "升级所选软件" presses the rows the upgrade view lists, whatever else the table shows.
    void upgradeBatchTakesTheViewsRows_data()
    {
        QTest::addColumn<int>("scrolls");
        QTest::addColumn<QString>("planted"); // a downloaded package's row, made by another part
        QTest::addColumn<QString>("uninstalled"); // goes while the view is shown
        const QString none;
        QTest::newRow("the list") << 0 << none << none;
        QTest::newRow("rows loaded by scrolling") << 2 << none << none;
        QTest::newRow("a row another part made") << 0 << QStringLiteral("pkg-79") << none;
        QTest::newRow("scrolled, then a row made") << 1 << QStringLiteral("pkg-77") << none;
        QTest::newRow("an uninstalled row") << 1 << none << QStringLiteral("pkg-3");
    }

    void upgradeBatchTakesTheViewsRows()
    {
        QFETCH(int, scrolls);
        QFETCH(QString, planted);
        QFETCH(QString, uninstalled);
        CatalogParts parts(120);
        QWidget bar;
        QLabel countLine;
        QPushButton reload, badge;
        UpgradePage upgrade({&bar, &countLine, &reload, &badge}, parts.catalog, parts.page,
                            parts.box, parts.state, parts.dialogs, parts.controller);
        QObject::connect(&parts.page, &CatalogPage::rowAdded, &upgrade, &UpgradePage::rowAdded);
        RecordingPage requests;
        parts.controller.setRequests(&parts.table, &requests);
        parts.state.setPage(PageState::Upgrade);
        upgrade.loadList();
        for (int i = 0; i < scrolls; ++i)
            QVERIFY(parts.page.loadMore() > 0);
        if (!planted.isEmpty())
            parts.page.setRowOperation(planted, OperationWord::install());
        if (!uninstalled.isEmpty())
            upgrade.packageUninstalled(uninstalled);

        // The case's own row is there, shown or gone as the case has it.
        for (const QString &name : {planted, uninstalled}) {
            if (name.isEmpty())
                continue;
            const int row =
                PackageTable::findRow(&parts.table, PackageTable::ColumnDisplayName, name);
            QVERIFY(row >= 0);
            QCOMPARE(parts.page.isRowHidden(row), name == uninstalled);
        }
        QStringList due;
        for (int row = 0; row < parts.page.rowCount(); ++row) {
            parts.page.setChecked(row, true);
            const QString name = parts.page.cell(row, PackageTable::ColumnDisplayName);
            if (!parts.page.isRowHidden(row) && name.mid(4).toInt() % 3 == 0)
                due << parts.page.cell(row, PackageTable::ColumnRpm);
        }
        QVERIFY(due.size() > 5);
        upgrade.upgradeSelected();

        QStringList pressed;
        for (const auto &[row, operation, rpm, mayProceed] : requests.asked) {
            QCOMPARE(operation, Operation::Upgrade);
            pressed << rpm;
        }
        std::sort(due.begin(), due.end());
        std::sort(pressed.begin(), pressed.end());
        QCOMPARE(pressed, due);
    }
};

QObject *createPartTests()
{
    return new TestParts;
}

#include "tst_parts.moc"
