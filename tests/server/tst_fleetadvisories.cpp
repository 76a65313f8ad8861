#include "server/fleet/fleetdatabase.h"
#include "server/fleet/fleetingest.h"
#include "server/fleet/fleetpage.h"
#include "sync/reportframe.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

namespace
{

// Stores on these desktops have these versions; 10.1.x.x is the pilot group.
const QVector<QStringList> Inventories{
    {"10.1.0.1", "cv-office-1.1-1", "cv-music-1.0-1"}, // lacks the critical fix only
    {"10.2.0.1", "cv-office-1.2-1", "cv-docs-0.9-1"},  // the same, through cv-docs
    {"10.2.0.2", "cv-office-1.0-1"},                   // lacks both
    {"10.2.0.3", "cv-office-2.0-1"},                   // a later build carries the fixes
    {"10.2.0.4", "cv-viewer-1.0-1"},                   // named by no advisory
};

QVector<Advisory> advisories()
{
    return {
        {"CVRA-1",
         "security",
         "critical",
         "<b>cv-office</b> fix",
         1796119200,
         {"CVE-2026-1111", "CVE-2026-1112"},
         {{"cv-office", "1.2-1"}, {"cv-docs", "1.0-1"}}},
        {"CVRA-2",
         "security",
         "moderate",
         "older fix",
         0,
         {"CVE-2026-0999"},
         {{"cv-office", "1.1-1"}}},
        {"CVEA-3", "enhancement", "", "formats", 0, {}, {{"cv-music", "1.0-1"}}},
        {"CVRA-4", "security", "important", "absent", 0, {}, {{"cv-absent", "2.0-1"}}},
    };
}

} // namespace

// Who an advisory has reached: the report's advisories, one advisory, one desktop's missing
// fixes and the status page, on a fleet database filled by the stores' reports.
class TestFleetAdvisories : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        FleetIngest::Settings settings;
        settings.database = m_dir.filePath("fleet.db");
        FleetIngest ingest(
            settings, [](const QString &, const QStringList &) {}, [](const QString &) {});
        QString error;
        QVERIFY2(ingest.start(&error), qPrintable(error));
        ingest.setAdvisories(advisories());
        int id = 0;
        for (const QStringList &desktop : Inventories) {
            ReportFrame::Inventory inventory;
            inventory.id = QStringLiteral("00000000000000b1-%1").arg(++id);
            inventory.time = 1700000000;
            inventory.sequence = 1;
            inventory.packages = desktop.mid(1);
            ReportFrame frame;
            QVERIFY(
                frame.parse(ReportFrame::composeInventory(desktop[0], inventory, 65535), &error));
            QVERIFY(ingest.submit({desktop[0], "desk-" + desktop[0], 1700000000, frame}));
        }
        ingest.flush();
    }

    void report_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QStringList>("lines"); // each a line of the output
        QTest::newRow("advisories, text")
            << QStringList{"advisories", "--format", "text"}
            << QStringList{"CVRA-1    security     critical   2026-12-01  <b>cv-office</b> fix  "
                           "CVE-2026-1111 CVE-2026-1112  1               3                  "
                           "default 2, pilot 1"};
        QTest::newRow("advisories, CSV")
            << QStringList{"advisories", "--format", "csv"}
            << QStringList{"advisories,CVEA-3,enhancement,,,formats,,1,0,"};
        QTest::newRow("advisories, JSON")
            << QStringList{"advisories", "--format", "json"}
            << QStringList{"            \"affected by group\": \"default 2, pilot 1\","};
        QTest::newRow("one advisory: the desktops that lack it")
            << QStringList{"advisory", "CVRA-1", "--format", "csv"}
            << QStringList{"desktops that lack it,10.1.0.1,pilot,cv-office,1.1-1,1.2-1",
                           "desktops that lack it,10.2.0.1,default,cv-docs,0.9-1,1.0-1",
                           "desktops that lack it,10.2.0.2,default,cv-office,1.0-1,1.2-1"};
        QTest::newRow("one desktop: its missing security fixes, gravest first")
            << QStringList{"desktop", "10.2.0.2", "--format", "csv"}
            << QStringList{"missing security fixes,CVRA-1,critical,cv-office,1.0-1,1.2-1,"
                           "CVE-2026-1111 CVE-2026-1112",
                           "missing security fixes,CVRA-2,moderate,cv-office,1.0-1,1.1-1,"
                           "CVE-2026-0999"};
    }

    // From another process, as the administrator runs it, with the service's groups.
    void report()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QStringList, lines);
        QProcess report;
        report.start(CORVANE_CATALOG_SERVER,
                     QStringList{"report"} + arguments +
                         QStringList{"--fleet-db", m_dir.filePath("fleet.db"), "--desktop-group",
                                     "pilot 10.1.0.0/16"});
        QVERIFY(report.waitForFinished(60000));
        QCOMPARE(report.exitCode(), 0);
        const QStringList output = QString::fromUtf8(report.readAllStandardOutput()).split('\n');
        for (const QString &line : lines)
            QVERIFY2(output.contains(line),
                     qPrintable(line + "\n--- not in:\n" + output.join('\n')));
    }

    // The chart counts each affected desktop once per severity; titles stay text.
    void statusPage()
    {
        FleetDatabase db;
        QString error;
        QVERIFY2(db.open(m_dir.filePath("fleet.db"), true, &error), qPrintable(error));
        const QString page = FleetPage::html(db.handle(), 1700000000);
        for (const char *expected :
             {"data-severity='critical' data-count='3'", "data-severity='moderate' data-count='1'",
              "data-severity='important' data-count='0'", "&lt;b&gt;cv-office&lt;/b&gt; fix"})
            QVERIFY2(page.contains(QLatin1String(expected)), expected);
        QVERIFY(!page.contains(QLatin1String("<b>cv-office")));
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(TestFleetAdvisories)
#include "tst_fleetadvisories.moc"
