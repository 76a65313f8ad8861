#include "shell/mainwindow.h"
#include "shell/packagetable.h"
#include "shellharness.h"
#include "tasks/combobox.h"
#include "tasks/installitem.h"
#include "tests/support/testrepository.h"
#include "yumcontrol.h"

#include <QLabel>
#include <QListWidget>
#include <QPointer>
#include <QTableWidget>
#include <QTest>

#include <memory>

namespace
{

int everyCategory(int index)
{
    return index % 13 + 1;
}

int videoOnEvenRows(int index)
{
    return index % 2 == 0 ? 6 : 1;
}

} // namespace

class TestCatalog : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY2(TestRepository::shared().isValid(),
                 qPrintable(TestRepository::shared().errorString()));
    }

    void cleanupTestCase() { m_cells.reset(); }

    void firstBuildThenElevenPerScroll()
    {
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        QVERIFY(harness.load(generatedCatalog(100, everyCategory)));
        QTableWidget *table = harness.catalogTable();
        QCOMPARE(table->rowCount(), 16);
        QCOMPARE(window->waitingCatalogRecords().size(), 84);
        QCOMPARE(window->findChild<QListWidget *>()->item(0)->text(),
                 QStringLiteral("全部软件 (100)"));

        for (int expected = 27; expected < 100 + 11; expected += 11) {
            const int rows = qMin(expected, 100);
            QVERIFY2(harness.scrollUntilLoaded(table, rows),
                     qPrintable(QString::number(table->rowCount())));
            QCOMPARE(window->waitingCatalogRecords().size(), 100 - rows);
            QCOMPARE(harness.visibleRows(table).size(), rows);
        }
        // Nothing waits any more: the bottom loads nothing.
        QVERIFY(!harness.scrollUntilLoaded(table, 101));
        QCOMPARE(table->rowCount(), 100);
    }

    void categoryReusesRowsAndAddsAtMostSixteen()
    {
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        QVERIFY(harness.load(generatedCatalog(48, videoOnEvenRows)));
        QTableWidget *table = harness.catalogTable();
        QCOMPARE(table->rowCount(), 16);

        QMap<int, QPointer<InstallItem>> built;
        for (int row = 0; row < table->rowCount(); ++row)
            if (harness.cell(table, row, PackageTable::ColumnType) == QLatin1String("6"))
                built.insert(row, window->controllerAt(table, row));
        QCOMPARE(built.size(), 8);

        auto *list = window->findChild<QListWidget *>(QStringLiteral("listWidget"));
        QListWidgetItem *video = list->item(6);
        QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier,
                          list->visualItemRect(video).center());
        QCOMPARE(list->currentRow(), 6);
        QCOMPARE(video->text(), QStringLiteral("视频应用 (24)"));

        const QVector<int> visible = harness.visibleRows(table);
        QCOMPARE(visible.size(), 16);
        QVERIFY(table->rowCount() - 16 <= 16);
        QCOMPARE(table->rowCount(), 24);
        for (int row : visible)
            QCOMPARE(harness.cell(table, row, PackageTable::ColumnType), QStringLiteral("6"));
        // The rows that existed are shown again as they were, not rebuilt.
        for (auto it = built.cbegin(); it != built.cend(); ++it) {
            QVERIFY(!table->isRowHidden(it.key()));
            QVERIFY(it.value());
            QCOMPARE(window->controllerAt(table, it.key()), it.value().data());
        }

        // The rest of the category comes with scrolling, and nothing of another category.
        QVERIFY(harness.scrollUntilLoaded(table, 32));
        QCOMPARE(harness.visibleRows(table).size(), 24);
        for (int row : harness.visibleRows(table))
            QCOMPARE(harness.cell(table, row, PackageTable::ColumnType), QStringLiteral("6"));
    }

    void changedPackageRewritesIdleRowsOnly()
    {
        ShellHarness harness;
        QVERIFY(harness.isValid());
        MainWindow *window = harness.start();
        QVERIFY(harness.load({ShellHarness::packageEntry("cv-hello", "1.0"),
                              ShellHarness::packageEntry("cv-editor", "2.0")}));
        QTableWidget *table = harness.catalogTable();
        YumControl &yum = harness.yum();
        QVERIFY(yum.isValid());
        yum.hold(true);

        // The editor row is busy with a download while the server changes both packages.
        InstallItem *editor = harness.controllerOf(table, "文本编辑器");
        editor->comboBox()->setCurrentIndex(1);
        QTest::mouseClick(editor->comboBox(), Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
        QTRY_VERIFY_WITH_TIMEOUT(yum.waiting() == 1, 60000);
        const int editorRow = harness.rowOf(table, "文本编辑器");
        QCOMPARE(harness.cell(table, editorRow, PackageTable::ColumnState), QStringLiteral("1"));

        QVERIFY(harness.sendFrame(catalogFrame(QStringLiteral("data_update_push"),
                                               {ShellHarness::packageEntry("cv-hello", "1.1"),
                                                ShellHarness::packageEntry("cv-editor", "2.1")})));
        const int helloRow = harness.rowOf(table, "你好世界");
        QCOMPARE(harness.cell(table, helloRow, PackageTable::ColumnRpm),
                 QStringLiteral("cv-hello-1.1-1"));
        QCOMPARE(harness.cell(table, helloRow, PackageTable::ColumnVersion), QStringLiteral("1.1"));
        QCOMPARE(harness.cell(table, editorRow, PackageTable::ColumnRpm),
                 QStringLiteral("cv-editor-2.0-1"));
        QCOMPARE(window->controllerAt(table, editorRow), editor);

        // Once the download is done the remembered row takes the new package.
        yum.hold(false);
        QTRY_COMPARE_WITH_TIMEOUT(harness.cell(table, editorRow, PackageTable::ColumnRpm),
                                  QStringLiteral("cv-editor-2.1-1"), 120000);
        QCOMPARE(harness.cell(table, editorRow, PackageTable::ColumnState), QStringLiteral("0"));
    }

    // A row is made only from a record waiting for one: a notification after the first
    // build gives the software pushed meanwhile its record.
    void pushedSoftwareGetsARow()
    {
        ShellHarness harness;
        QVERIFY(harness.isValid());
        harness.start();
        QVERIFY(harness.load({ShellHarness::packageEntry("cv-hello", "1.0")}));
        QVERIFY(harness.sendFrame(catalogFrame(QStringLiteral("data_add_push"),
                                               {ShellHarness::packageEntry("cv-editor", "2.0")})));
        QTableWidget *table = harness.catalogTable();
        const int row = harness.rowOf(table, "文本编辑器");
        QVERIFY(row >= 0);
        QVERIFY(!table->isRowHidden(row));
    }

    void cellsOfARow_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("fullStars");
        QTest::addColumn<int>("emptyStars");
        QTest::addColumn<bool>("error");
        QTest::addColumn<QString>("size");
        QTest::newRow("three stars") << "三星应用" << 3 << 2 << false << "123.46M";
        QTest::newRow("negative rating") << "负分应用" << 0 << 0 << true << "2.50M";
        QTest::newRow("more than five") << "九星应用" << 5 << 0 << false << "0.00M";
        QTest::newRow("not a number") << "乱码应用" << 0 << 5 << false << "0.00M";
    }

    void cellsOfARow()
    {
        QFETCH(QString, name);
        QFETCH(int, fullStars);
        QFETCH(int, emptyStars);
        QFETCH(bool, error);
        QFETCH(QString, size);
        ShellHarness &harness = cellsFixture();
        QTableWidget *table = harness.catalogTable();
        const int row = harness.rowOf(table, name);
        QVERIFY(row >= 0);
        const auto *label =
            qobject_cast<QLabel *>(table->cellWidget(row, PackageTable::ColumnName));
        QVERIFY(label);
        const QString html = label->text();
        QCOMPARE(html.count(QStringLiteral(":/img/full_star.png")), fullStars);
        QCOMPARE(html.count(QStringLiteral(":/img/empty_star.png")), emptyStars);
        QCOMPARE(html.contains(QStringLiteral("'>error</div>")), error);
        QVERIFY(html.contains(name));
        QCOMPARE(harness.cell(table, row, PackageTable::ColumnSize), size);
    }

    void catalogTextIsNotMarkup()
    {
        ShellHarness &harness = cellsFixture();
        QTableWidget *table = harness.catalogTable();
        const int row = harness.rowOf(table, "<b>粗体</b>");
        QVERIFY(row >= 0);
        const auto *label =
            qobject_cast<QLabel *>(table->cellWidget(row, PackageTable::ColumnName));
        QVERIFY(label->text().contains(QStringLiteral("&lt;b&gt;粗体&lt;/b&gt;")));
        QVERIFY(!label->text().contains(QStringLiteral("<b>粗体")));
        // A long description also gives the tool tip.
        QVERIFY(label->toolTip().contains(QStringLiteral("这是一段很长很长的描述文字")));
        QVERIFY(label->toolTip().contains(QStringLiteral("&lt;script&gt;")));
    }

private:
    ShellHarness &cellsFixture()
    {
        if (!m_cells) {
            m_cells = std::make_unique<ShellHarness>();
            m_cells->start();
            QVector<CatalogEntry> entries = generatedCatalog(5, everyCategory);
            const char *const names[] = {"三星应用", "负分应用", "九星应用", "乱码应用",
                                         "<b>粗体</b>"};
            const char *const stars[] = {"3", "-1", "9", "abc", "2"};
            const char *const sizes[] = {"123456789", "2500000", "0", "many", "1"};
            for (int i = 0; i < entries.size(); ++i) {
                entries[i].name = QString::fromUtf8(names[i]);
                entries[i].star = QString::fromLatin1(stars[i]);
                entries[i].size = QString::fromLatin1(sizes[i]);
            }
            entries[4].desc =
                QStringLiteral("这是一段很长很长的描述文字，<script>不会执行</script>");
            if (!m_cells->isValid() || !m_cells->load(entries))
                qWarning("the catalog of the cell tests did not load");
        }
        return *m_cells;
    }

    std::unique_ptr<ShellHarness> m_cells;
};

QObject *createCatalogTests()
{
    return new TestCatalog;
}

#include "tst_catalog.moc"
