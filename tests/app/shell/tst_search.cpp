#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shellharness.h"
#include "tests/support/testrepository.h"
#include "widgets/label.h"
#include "widgets/lineedit.h"

#include <QCheckBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTableWidget>
#include <QTest>

#include <memory>

namespace
{

} // namespace

class TestSearch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
        m_harness = std::make_unique<ShellHarness>();
        QVERIFY(m_harness->isValid());
        // One package with an update waiting and one that is current.
        QVERIFY(m_harness->sandbox().install(TestRepository::standardPackage("cv-hello", "1.0")));
        QVERIFY(m_harness->sandbox().install(TestRepository::standardPackage("cv-player", "3.2")));
        m_window = m_harness->start();
        QVector<CatalogEntry> catalog{ShellHarness::packageEntry("cv-hello", "1.1", "5"),
                                      ShellHarness::packageEntry("cv-player", "3.2", "6"),
                                      ShellHarness::packageEntry("cv-editor", "2.0", "1")};
        catalog += generatedCatalog(30, [](int i) { return i % 13 + 1; });
        QVERIFY(m_harness->load(catalog));
    }

    void cleanupTestCase() { m_harness.reset(); }

    void init()
    {
        clickNavigation("btn_allPackage");
        selectCategory(0);
        m_harness->dialogs().clear();
    }

    void noMatchHidesTheResultsAndBatchControls_data()
    {
        QTest::addColumn<QString>("page");
        QTest::addColumn<QString>("table");
        QTest::addColumn<QString>("label");
        QTest::addColumn<QString>("checkBox");
        QTest::addColumn<QString>("batchButton");
        QTest::newRow("home") << "btn_allPackage"
                              << "tableWidget_allPackage"
                              << "label_allPackage"
                              << "checkBox_update"
                              << "btn_update_soft";
        QTest::newRow("upgrade") << "btn_packageUpdate"
                                 << "tableWidget_allPackage"
                                 << "label_allPackage"
                                 << "checkBox_update"
                                 << "btn_update_soft";
        QTest::newRow("uninstall") << "btn_packageDelete"
                                   << "tableWidget_delete"
                                   << "label_delPackage"
                                   << "checkBox_delete"
                                   << "btn_delete_soft";
    }

    void noMatchHidesTheResultsAndBatchControls()
    {
        QFETCH(QString, page);
        QFETCH(QString, table);
        QFETCH(QString, label);
        QFETCH(QString, checkBox);
        QFETCH(QString, batchButton);
        clickNavigation(page);
        auto *results = m_window->findChild<QTableWidget *>(table);
        auto *empty = m_window->findChild<QLabel *>(label);
        QVERIFY(results->isVisible());
        QVERIFY(!m_harness->visibleRows(results).isEmpty());
        QVERIFY(!empty->isVisible());

        search(QStringLiteral("zzzz"));
        QVERIFY(empty->isVisible());
        QCOMPARE(empty->text(), QStringLiteral("没有相关软件包"));
        QVERIFY(!results->isVisible());
        QVERIFY(m_window->findChild<QCheckBox *>(checkBox)->isHidden());
        QVERIFY(m_window->findChild<QPushButton *>(batchButton)->isHidden());
    }

    void emptySearchShowsTheWholeCategory()
    {
        selectCategory(1);
        search(QString());
        const QVector<int> rows = m_harness->visibleRows(m_harness->catalogTable());
        // cv-editor and the generated records 0, 13 and 26.
        QCOMPARE(rows.size(), 4);
        for (int row : rows)
            QCOMPARE(m_harness->cell(m_harness->catalogTable(), row, PackageTable::ColumnType),
                     QStringLiteral("1"));
    }

    void upgradePageIgnoresTheCategory()
    {
        selectCategory(3);
        clickNavigation("btn_packageUpdate");
        for (const QString &text : {QString(), QStringLiteral("你好")}) {
            search(text);
            const QVector<int> rows = m_harness->visibleRows(m_harness->catalogTable());
            QCOMPARE(rows.size(), 1);
            QCOMPARE(m_harness->cell(m_harness->catalogTable(), rows.first(),
                                     PackageTable::ColumnDisplayName),
                     QStringLiteral("你好世界"));
        }
    }

    void typingTogglesTheHintWithoutSearching()
    {
        QTableWidget *table = m_harness->catalogTable();
        auto *box = m_window->findChild<LineEdit *>(QStringLiteral("lineEdit_search"));
        auto *hint = m_window->findChild<Label *>(QStringLiteral("label_5"));
        QVERIFY(hint->isVisible());
        const QVector<int> before = m_harness->visibleRows(table);
        const int rows = table->rowCount();

        QTest::keyClick(box, Qt::Key_Z);
        QCOMPARE(box->text(), QStringLiteral("z"));
        QVERIFY(!hint->isVisible());
        QTest::keyClick(box, Qt::Key_Backspace);
        QVERIFY(box->text().isEmpty());
        QVERIFY(hint->isVisible());
        QCOMPARE(m_harness->visibleRows(table), before);
        QCOMPARE(table->rowCount(), rows);
    }

    void searchingAgainShowsTheSameRows()
    {
        QTableWidget *table = m_harness->catalogTable();
        search(QStringLiteral("应用00"));
        const QVector<int> first = m_harness->visibleRows(table);
        QCOMPARE(first.size(), 10);
        search(QStringLiteral("应用01"));
        const QVector<int> other = m_harness->visibleRows(table);
        QCOMPARE(other.size(), 10);
        const int rows = table->rowCount();

        search(QStringLiteral("应用00"));
        QCOMPARE(m_harness->visibleRows(table), first);
        QCOMPARE(table->rowCount(), rows);
        for (int row : first)
            QVERIFY(m_harness->cell(table, row, PackageTable::ColumnDisplayName)
                        .startsWith(QStringLiteral("应用00")));
    }

private:
    void clickNavigation(const QString &button)
    {
        m_window->findChild<QPushButton *>(button)->click();
    }

    void selectCategory(int row)
    {
        auto *list = m_window->findChild<QListWidget *>(QStringLiteral("listWidget"));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(list->item(row)).center());
        QCOMPARE(list->currentRow(), row);
    }

    void search(const QString &text)
    {
        auto *box = m_window->findChild<LineEdit *>(QStringLiteral("lineEdit_search"));
        box->setText(text);
        m_window->findChild<QPushButton *>(QStringLiteral("btn_search"))->click();
    }

    std::unique_ptr<ShellHarness> m_harness;
    MainWindow *m_window = nullptr;
};

QObject *createSearchTests()
{
    return new TestSearch;
}

#include "tst_search.moc"
