#include "fleet/fleetreport.h"

#include <QTest>

// The report's CSV as a spreadsheet reads it: what desktops wrote is never a formula.
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
};

QTEST_GUILESS_MAIN(FleetReportTest)
#include "tst_fleetreport.moc"
