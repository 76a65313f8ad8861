#include "catalogfixture.h"
#include "catalogserverprocess.h"
#include "facade/catalogqueries.h"
#include "framereceiver.h"
#include "records/paths.h"
#include "sync/catalogrequest.h"
#include "sync/heartthread.h"
#include "sync/reportsender.h"
#include "tests/support/processrunner.h"
#include "tests/support/sandbox.h"
#include "tests/support/sqlrows.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"
#include "tools/demo-catalog/appstreamfile.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

using namespace CatalogFixture;

namespace
{

const int Long = 60000;

// A critical advisory of the next build of cv-hello, as the distribution publishes it.
const char *const UpdateInfo =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<updates>\n"
    "  <update from=\"security@example.org\" status=\"stable\" type=\"security\" "
    "version=\"2.0\">\n    <id>CVRA-2026:0101</id>\n"
    "    <title>Critical: cv-hello security update</title>\n    <severity>Critical</severity>\n"
    "    <issued date=\"2026-12-01 10:00:00\"/>\n"
    "    <references><reference href=\"https://cve.example.org/CVE-2026-1111\" "
    "id=\"CVE-2026-1111\" type=\"cve\" title=\"CVE-2026-1111\"/></references>\n"
    "    <pkglist><collection short=\"cv\"><name>cv</name><package name=\"cv-hello\" "
    "version=\"1.1\" release=\"1\" epoch=\"0\" arch=\"x86_64\"><filename>"
    "cv-hello-1.1-1.x86_64.rpm</filename></package></collection></pkglist>\n"
    "  </update>\n</updates>\n";

QStringList report(const QString &fleet, const QStringList &arguments)
{
    QProcess process;
    process.start(CORVANE_CATALOG_SERVER, QStringList{"report"} + arguments +
                                              QStringList{"--fleet-db", fleet, "--desktop-group",
                                                          "pilot 127.0.0.1", "--format", "csv"});
    return process.waitForFinished(Long) && process.exitCode() == 0
               ? QString::fromUtf8(process.readAllStandardOutput()).split('\n')
               : QStringList{"report failed"};
}

} // namespace

// Advisories in the store: a frame's attribute leaves the row as a store that does not know it
// keeps it; a critical fix from the repository's updateinfo to a real store, the fleet report
// and the rollout.
class TestSyncAdvisories : public QObject
{
    Q_OBJECT

private slots:
    void advisoriesLeaveTheRowAsBefore_data()
    {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("advisories");
        QTest::addColumn<QString>("kept");   // beside the row, for the upgrade page
        QTest::addColumn<QString>("notice"); // what the notification's body starts with
        const QString security = QStringLiteral("CVRA-1,security,critical,1.1-1,CVE-2026-1111");
        const QString body = QStringLiteral("请前往");
        QTest::newRow("catalog") << "data_resp" << security << security << "";
        QTest::newRow("add") << "data_add_push" << security << security
                             << QStringLiteral("【安全更新·严重】") + body;
        QTest::newRow("update, an enhancement and a CVE that is none")
            << "data_update_push"
            << "CVEA-2,enhancement,,1.1-1 CVRA-3,security,low,1.1-1,CVE-1;x"
            << "CVEA-2,enhancement,,1.1-1 CVRA-3,security,low,1.1-1"
            << QStringLiteral("【安全更新·低】") + body;
        QTest::newRow("markup, quotes and a frame in the value")
            << "data_add_push"
            << "x'/><package name='Evil' rpm='cv-evil-1-1'/> </datas></frame>\n<b>"
            << "" << body;
        QTest::newRow("oversize") << "data_add_push" << QString(60000, QLatin1Char('A')) << ""
                                  << body;
    }

    // A frame from a server that reads advisories: the attribute changes nothing of the row,
    // which is what a store that knows nothing of it keeps.
    void advisoriesLeaveTheRowAsBefore()
    {
        QFETCH(QString, action);
        QFETCH(QString, advisories);
        QFETCH(QString, kept);
        QFETCH(QString, notice);
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid() && sandbox.install(CatalogFixture::Hello10),
                 qPrintable(sandbox.errorString()));
        for (const char *name : {"Plain", "Marked"})
            QVERIFY(insertRow({{"s_name", name}, {"s_rpm", "cv-old-1.0-1"}, {"sign", "2"}}));
        CatalogPackage plain = package("Plain", "cv-hello-1.1-1");
        CatalogPackage marked = plain;
        marked.name = QStringLiteral("Marked");
        marked.advisories = advisories;
        HeartThread receiver;
        const QString sent = frame(action, "x86_64", {plain, marked});
        QVERIFY(sent.contains(QStringLiteral(" advisories='")));
        receiver.pigxmlData(sent);
        QCOMPARE(names(), (QStringList{"Marked", "Plain"}));
        Row withAdvisories = row("Marked");
        Row without = row("Plain");
        withAdvisories.remove("s_name");
        without.remove("s_name");
        QCOMPARE(withAdvisories, without);
        QCOMPARE(without.value("s_rpm"), plain.rpm);
        QCOMPARE(query(Paths::catalogDatabase(), "select s_name, text from advisories").size(),
                 kept.isEmpty() ? 0 : 1);
        if (!kept.isEmpty())
            QCOMPARE(query(Paths::catalogDatabase(), "select text from advisories")
                         .value(0)
                         .value("text"),
                     kept);
        const QStringList notices = sandbox.notifications();
        QCOMPARE(notices.size(), notice.isEmpty() ? 0 : 1);
        if (!notice.isEmpty())
            QVERIFY2(notices.first().section('\t', 3).startsWith(notice),
                     qPrintable(notices.first()));
    }

    // Marked for the pilot's store and in its notification, listed with the desktop that
    // lacks it, promoted once its security delay (not the stage delay of a day) has passed.
    void criticalFixReachesTheFleet()
    {
        Sandbox sandbox(&TestRepository::shared());
        QVERIFY2(sandbox.isValid() && TestKey::catalog().trust() &&
                     sandbox.install(CatalogFixture::Hello10),
                 qPrintable(sandbox.errorString()));
        sandbox.setConfig("vqssend", "true");
        useLoopbackTransport();
        TestRepository repository({TestPackage{"cv-hello", "1.0", "1"}});
        QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
        QString error;
        QVERIFY2(AppStreamFile({{"cv-hello", "Hello", {}, "Greets", {"Office"}, "picture"}})
                     .addTo(repository.directory(), &error),
                 qPrintable(error));
        // Published before the build it names: the rollout learns of both at once.
        QTemporaryDir state;
        QVERIFY(writeFile(state.filePath("updateinfo.xml"), UpdateInfo));
        QCOMPARE(ProcessRunner::run("modifyrepo_c",
                                    {"--mdtype=updateinfo", state.filePath("updateinfo.xml"),
                                     repository.directory() + "/repodata"})
                     .exitCode,
                 0);
        const QString fleet = state.filePath("fleet.db");
        CatalogServerProcess server;
        QVERIFY(server.start({"--repository", repository.directory(), "--settle", "100",
                              "--fleet-db", fleet, "--rollout-pilot", "pilot", "--desktop-group",
                              "pilot 127.0.0.1", "--stage-delay-security", "critical 3s"}));
        FrameReceiver receiver;
        QVERIFY(receiver.start());
        ReportSender sender(Paths::reportOutbox(), 300);
        sender.start();
        CatalogRequest::send();
        QTRY_COMPARE_WITH_TIMEOUT(
            rowsOf(fleet.toUtf8(), "select address||' '||name||' '||version from installed"),
            QStringList{"127.0.0.1 cv-hello 1.0-1"}, Long);

        const int before = server.output().size();
        QVERIFY2(repository.add({TestPackage{"cv-hello", "1.1", "1"}}),
                 qPrintable(repository.errorString()));
        QVERIFY(!server
                     .waitForLine(QRegularExpression("rollout of cv-hello 1.1-1 started: pilot get "
                                                     "it, default stay on 1.0-1 \\(fixes a "
                                                     "critical security advisory: stage delay 3 s"
                                                     "\\)"),
                                  before)
                     .isEmpty());

        // The pilot's store: its upgrade page marks the row, the notification says so.
        QTRY_COMPARE_WITH_TIMEOUT(row("Hello").value("s_rpm"), QStringLiteral("cv-hello-1.1-1"),
                                  Long);
        // Its install state follows once the receiver has compared it with the RPM database.
        QTRY_COMPARE_WITH_TIMEOUT(CatalogQueries::search(QueryMode::Upgradable, "", "").size(), 1,
                                  Long);
        const QVector<RpmData> upgradable = CatalogQueries::search(QueryMode::Upgradable, "", "");
        QCOMPARE(upgradable.first().m_advisories,
                 QStringLiteral("CVRA-2026:0101,security,critical,1.1-1,CVE-2026-1111"));
        QTRY_VERIFY_WITH_TIMEOUT(
            sandbox.notifications().filter(QStringLiteral("【安全更新·严重】")).size() == 1, Long);

        // The desktop still on 1.0-1 lacks it.
        QVERIFY(report(fleet, {"advisory", "CVRA-2026:0101"})
                    .contains("desktops that lack it,127.0.0.1,pilot,cv-hello,1.0-1,1.1-1"));
        QVERIFY(report(fleet, {"advisories"})
                    .contains("advisories,CVRA-2026:0101,security,critical,2026-12-01,Critical: "
                              "cv-hello security update,CVE-2026-1111,0,1,pilot 1"));

        // Every group after the security delay.
        QVERIFY(!server
                     .waitForLine(QRegularExpression("rollout of cv-hello 1.1-1 promoted: the "
                                                     "stage delay has passed"),
                                  before)
                     .isEmpty());
        const QStringList rollouts = report(fleet, {"rollout"}).filter("rollouts,cv-hello,1.1-1,");
        QCOMPARE(rollouts.size(), 1);
        QVERIFY2(rollouts.first().contains(",promoted,") &&
                     rollouts.first().endsWith(",3s (critical security fix)"),
                 qPrintable(rollouts.first()));
    }
};

QTEST_GUILESS_MAIN(TestSyncAdvisories)
#include "tst_syncadvisories.moc"
