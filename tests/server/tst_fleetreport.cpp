#include "fleet/fleetdatabase.h"
#include "fleet/fleetreport.h"

#include <QTemporaryDir>
#include <QTest>

// The report's CSV as a spreadsheet reads it: what desktops wrote is never a formula. Which
// catalogs it calls stale.
class FleetReportTest : public QObject
{
    Q_OBJECT

private slots:
    void csvCells_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("written");
        QTest::newRow("text") << "scriptlet failed"
                              << "scriptlet failed";
        QTest::newRow("negative number") << "-2"
                                         << "-2";
        QTest::newRow("decimal") << "-1.5"
                                 << "-1.5";
        QTest::newRow("plus number") << "+7"
                                     << "+7";
        QTest::newRow("formula") << "=1+1"
                                 << "'=1+1";
        QTest::newRow("formula after a digit") << "-1+HYPERLINK(\"http://x\",1)"
                                               << "\"'-1+HYPERLINK(\"\"http://x\"\",1)\"";
        QTest::newRow("dash word") << "-cmd"
                                   << "'-cmd";
        QTest::newRow("plus") << "+A1"
                              << "'+A1";
        QTest::newRow("at") << "@SUM(A1)"
                            << "'@SUM(A1)";
        QTest::newRow("tab") << "\tx"
                             << "'\tx";
        QTest::newRow("carriage return") << "\rx"
                                         << "\"'\rx\"";
    }

    void csvCells()
    {
        QFETCH(QString, cell);
        QFETCH(QString, written);
        const FleetReport::Table table{"results", {"echo"}, {{cell}}};
        const QString csv = FleetReport::render({table}, FleetReport::Format::Csv);
        QCOMPARE(csv, "table,echo\nresults," + written + "\n");
    }

    void staleCatalogs_data()
    {
        QTest::addColumn<QVector<quint64>>("sequences"); // of desktops 10.0.0.1, .2, ...
        QTest::addColumn<QStringList>("stale");          // desktop, its sequence, the newest
        QTest::newRow("one behind") << QVector<quint64>{5, 5, 4} << QStringList{"10.0.0.3 4 5"};
        QTest::newRow("one claiming far ahead")
            << QVector<quint64>{5, 5, 8589934592} << QStringList();
        QTest::newRow("most already moved on")
            << QVector<quint64>{6, 6, 5} << QStringList{"10.0.0.3 5 6"};
    }
    // The newest sequence is the one most desktops have: one desktop cannot make all the
    // others look stale.
    void staleCatalogs()
    {
        QFETCH(QVector<quint64>, sequences);
        QFETCH(QStringList, stale);
        QTemporaryDir dir;
        FleetDatabase db;
        QString error;
        QVERIFY2(db.open(dir.filePath("fleet.db"), false, &error), qPrintable(error));
        const qint64 now = 1700000000;
        QVector<FleetDatabase::Report> batch;
        for (int i = 0; i < sequences.size(); ++i) {
            const QString desktop = QStringLiteral("10.0.0.%1").arg(i + 1);
            ReportFrame::Inventory inventory;
            inventory.id = QStringLiteral("00000000000000b1-%1").arg(i + 1);
            inventory.time = now;
            inventory.sequence = sequences[i];
            FleetDatabase::Report report{desktop, QString(), now, {}};
            QVERIFY(report.frame.parse(ReportFrame::composeInventory(desktop, inventory, 65535),
                                       &error));
            batch << report;
        }
        QVERIFY2(db.store(batch, 90, &error), qPrintable(error));
        QStringList listed;
        for (const FleetReport::Table &table : FleetReport(db.handle(), now).summary())
            if (table.name == QLatin1String("stale catalogs"))
                for (const QStringList &row : table.rows)
                    listed << row.join(QLatin1Char(' '));
        QCOMPARE(listed, stale);
    }
};

QTEST_GUILESS_MAIN(FleetReportTest)
#include "tst_fleetreport.moc"
