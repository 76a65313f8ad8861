// The override file's require and remove statements, and the signed per-desktop plans the
// server writes from them into a real file area.
#include "fleet/fleetdatabase.h"
#include "plans/planwriter.h"
#include "plans/requiredreport.h"
#include "repository/catalogoverrides.h"
#include "serving/filearea.h"
#include "sync/framesignature.h"
#include "sync/framesigner.h"

#include <QDateTime>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestPlans : public QObject
{
    Q_OBJECT

private slots:
    void statements_data();
    void statements();
    void planItems_data();
    void planItems();
    void writtenPlans();
    void plantedPlanNames_data();
    void plantedPlanNames();
    void requiredReport_data();
    void requiredReport();
};

void TestPlans::statements_data()
{
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expected"); // group|key|window|notice, or the error's start
    QTest::newRow("require, served version, group")
        << "require cv-editor for pilot by 2026-12-11T14:00 window 12:00-14:00 notice 1d"
        << "pilot|cv-editor-|12:00-14:00|86400";
    QTest::newRow("require a version, everyone, default notice")
        << "require cv-editor 2.0-1 by 2026-12-11 window 23:30-01:00"
        << "|cv-editor-2.0-1|23:30-01:00|3600";
    QTest::newRow("remove") << "remove cv-games for finance by 2026-12-11 window 12:00-13:00"
                            << "finance|cv-games|12:00-13:00|3600";
    QTest::newRow("remove takes no version")
        << "remove cv-games 1.0-1 by 2026-12-11 window 12:00-13:00"
        << "error";
    QTest::newRow("no window") << "require cv-editor by 2026-12-11"
                               << "error";
    QTest::newRow("window of no length") << "require cv-editor by 2026-12-11 window 12:00-12:00"
                                         << "error";
    QTest::newRow("hour 24") << "require cv-editor by 2026-12-11 window 24:00-01:00"
                             << "error";
    QTest::newRow("deadline not a date") << "require cv-editor by friday window 12:00-13:00"
                                         << "error";
    QTest::newRow("group not a name")
        << "require cv-editor for ../x by 2026-12-11 window 12:00-13:00"
        << "error";
    QTest::newRow("package an option") << "require -rf by 2026-12-11 window 12:00-13:00"
                                       << "error";
    QTest::newRow("clause twice")
        << "require cv-editor by 2026-12-11 by 2026-12-12 window 12:00-13:00"
        << "error";
    QTest::newRow("notice beyond bound")
        << "require cv-editor by 2026-12-11 window 12:00-13:00 notice 31d"
        << "error";
}

void TestPlans::statements()
{
    QFETCH(QString, line);
    QFETCH(QString, expected);
    CatalogOverrides overrides;
    QString error;
    const bool parsed =
        overrides.parse(QStringLiteral("hide cv-kept\n") + line, QStringLiteral("o.conf"), &error);
    QCOMPARE(parsed, expected != QLatin1String("error"));
    if (!parsed) {
        QVERIFY2(error.startsWith(QLatin1String("o.conf:2: ")), qPrintable(error));
        return;
    }
    QCOMPARE(overrides.requirements().size(), 1);
    const Requirement &requirement = overrides.requirements().first();
    const PlanFrame::Item &item = requirement.item;
    QCOMPARE(QStringList({requirement.group, item.key(),
                          PlanFrame::windowText(item.windowStart, item.windowEnd),
                          QString::number(item.notice)})
                 .join(QLatin1Char('|')),
             expected);
    // A date alone leaves the whole day.
    const QDateTime deadline = QDateTime::fromSecsSinceEpoch(item.deadline);
    QCOMPARE(deadline.date(), QDate(2026, 12, line.contains(QLatin1String("T14")) ? 11 : 12));
}

void TestPlans::planItems_data()
{
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("withdrawn");
    QTest::addColumn<QStringList>("keys");
    QTest::newRow("pilot: served version, own removal, later statement wins")
        << "pilot" << QStringList()
        << QStringList({"cv-editor-2.0-1", "cv-games", "cv-viewer-3.0-2"});
    QTest::newRow("default: held version, nothing of pilot's")
        << "default" << QStringList() << QStringList({"cv-editor-1.9-1", "cv-viewer-3.0-2"});
    QTest::newRow("halted version withdrawn") << "pilot" << QStringList({"cv-editor-2.0-1"})
                                              << QStringList({"cv-games", "cv-viewer-3.0-2"});
    QTest::newRow("package not served is left out")
        << "finance" << QStringList() << QStringList({"cv-editor-1.9-1", "cv-viewer-3.0-2"});
}

void TestPlans::planItems()
{
    QFETCH(QString, group);
    QFETCH(QStringList, withdrawn);
    QFETCH(QStringList, keys);
    CatalogOverrides overrides;
    QString error;
    QVERIFY2(overrides.parse("require cv-editor by 2026-12-11 window 12:00-14:00\n"
                             "require cv-viewer 3.0-1 by 2026-12-11 window 12:00-14:00\n"
                             "remove cv-games for pilot by 2026-12-11 window 12:00-14:00\n"
                             "require cv-viewer 3.0-2 by 2026-12-12 window 12:00-14:00\n"
                             "require cv-missing for finance by 2026-12-12 window 12:00-14:00\n",
                             QStringLiteral("o.conf"), &error),
             qPrintable(error));
    const PlanWriter::Served served = [](const QString &servedGroup, const QString &package) {
        if (package != QLatin1String("cv-editor"))
            return QString();
        return servedGroup == QLatin1String("pilot") ? QStringLiteral("2.0-1")
                                                     : QStringLiteral("1.9-1");
    };
    PlanFrame plan =
        PlanWriter::planFor(QStringLiteral("10.1.2.3"), group, overrides.requirements(), served,
                            QSet<QString>(withdrawn.begin(), withdrawn.end()));
    QStringList got;
    for (const PlanFrame::Item &item : plan.items)
        got << item.key();
    QCOMPARE(got, keys);
    // What is composed parses back whole.
    plan.issued = 1800000000;
    PlanFrame again;
    QVERIFY2(again.parse(plan.compose(), &error), qPrintable(error));
    QCOMPARE(again.compose(), plan.compose());
}

void TestPlans::writtenPlans()
{
    QTemporaryDir folder;
    QVERIFY(QFile::setPermissions(folder.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    const FileArea area(folder.path());
    FrameSigner signer(SigningKey::generate());
    PlanWriter writer(area, &signer);
    Requirements requirements(1);
    QString error;
    QVERIFY(Requirement::parse(
        QString("require cv-editor 2.0-1 by 2026-12-11 window 12:00-14:00").split(' '),
        &requirements[0], &error));
    const PlanWriter::Served served = [](const QString &, const QString &) { return QString(); };
    const QHash<QString, QString> desktops = {
        {"10.1.2.3", "pilot"}, {"10.1.2.4", "default"}, {"../escape", "default"}};
    const qint64 now = 1800000000;
    QCOMPARE(writer.write(desktops, requirements, served, {}, now, &error), 2);
    // Unchanged: nothing until the hour is out; then every plan again.
    QCOMPARE(writer.write(desktops, requirements, served, {}, now + 60, &error), 0);
    QCOMPARE(
        writer.write(desktops, requirements, served, {}, now + PlanWriter::RefreshSeconds, &error),
        2);
    // A withdrawn version changes the plans at once.
    QCOMPARE(writer.write(desktops, requirements, served, {"cv-editor-2.0-1"},
                          now + PlanWriter::RefreshSeconds + 1, &error),
             2);
    QByteArray text;
    QVERIFY(area.read(PlanWriter::planFile("10.1.2.3"), &text, &error));
    FrameSignature envelope;
    QVERIFY(envelope.read(text.trimmed()));
    PlanFrame plan;
    QVERIFY2(plan.parse(QString::fromUtf8(envelope.frame()), &error), qPrintable(error));
    QCOMPARE(plan.desktop, QStringLiteral("10.1.2.3"));
    QCOMPARE(plan.issued, now + PlanWriter::RefreshSeconds + 1);
    QVERIFY(plan.items.isEmpty());
    QVERIFY(!QFile::exists(folder.filePath("escape")));
}

void TestPlans::plantedPlanNames_data()
{
    QTest::addColumn<QString>("plant"); // shell, in the plans' folder; the victim is beside www
    QTest::addColumn<bool>("written");
    QTest::newRow("a longer plan before") << "head -c 100000 /dev/zero > 10.1.2.3" << true;
    QTest::newRow("a link to another file") << "ln -s ../../../victim 10.1.2.3" << false;
    QTest::newRow("a hard link to another file") << "ln ../../../victim 10.1.2.3" << false;
}

// Plans are rewritten in place: never through a name that leads elsewhere, and whole.
void TestPlans::plantedPlanNames()
{
    QFETCH(QString, plant);
    QFETCH(bool, written);
    QTemporaryDir work;
    const QString plans = work.filePath("www/.cv_data/plans");
    QVERIFY(QDir().mkpath(plans));
    QFile victim(work.filePath("victim"));
    QVERIFY(victim.open(QIODevice::WriteOnly) && victim.write("victim") == 6);
    victim.close();
    QCOMPARE(QProcess::execute("sh", {"-c", "cd " + plans + " && " + plant}), 0);
    FrameSigner signer(SigningKey::generate());
    const FileArea area(work.filePath("www"));
    PlanWriter writer(area, &signer);
    QString error;
    QCOMPARE(writer.write({{"10.1.2.3", "default"}}, {}, {}, {}, 1800000000, &error),
             written ? 1 : -1);
    QVERIFY(victim.open(QIODevice::ReadOnly));
    QCOMPARE(victim.readAll(), QByteArray("victim"));
    QFile plan(plans + "/10.1.2.3");
    QVERIFY(plan.open(QIODevice::ReadOnly));
    FrameSignature envelope;
    QCOMPARE(envelope.read(plan.readAll().trimmed()), written);
}

void TestPlans::requiredReport_data()
{
    QTest::addColumn<QString>("overrides");
    QTest::addColumn<QStringList>("results"); // ADDRESS OPER RPM CODE, in the desktops' order
    QTest::addColumn<QStringList>("rows");
    const QString require = "require cv-editor 2.0-1 by 2026-12-11 window 12:00-14:00\n";
    const QString removal = "remove cv-games for pilot by 2026-12-11 window 12:00-14:00\n";
    QTest::newRow("versions given, a failure")
        << require + removal << QStringList{"10.1.2.2 upgrade cv-editor-2.0-1 -1"}
        << QStringList{"cv-editor|require|2.0-1|default|0|1|0|0",
                       "cv-editor|require|2.0-1|pilot|1|0|0|1", "cv-games|remove||pilot|1|1|0|0"};
    QTest::newRow("a failure, then deferred; another version's deferral")
        << require
        << QStringList{"10.1.2.2 upgrade cv-editor-2.0-1 -1", "10.1.2.2 defer cv-editor-2.0-1 0",
                       "10.9.0.1 defer cv-editor-2.1-1 0"}
        << QStringList{"cv-editor|require|2.0-1|default|0|1|0|0",
                       "cv-editor|require|2.0-1|pilot|1|0|1|0"};
    QTest::newRow("deferred, then failed; a removal deferred")
        << require + removal
        << QStringList{"10.1.2.2 defer cv-editor-2.0-1 0", "10.1.2.2 upgrade cv-editor-2.0-1 -1",
                       "10.1.2.2 defer cv-games-1.0-1 0"}
        << QStringList{"cv-editor|require|2.0-1|default|0|1|0|0",
                       "cv-editor|require|2.0-1|pilot|1|0|0|1", "cv-games|remove||pilot|1|0|1|0"};
    QTest::newRow("deferred, then installed: pending until the inventory says")
        << require
        << QStringList{"10.9.0.1 defer cv-editor-2.0-1 0", "10.9.0.1 upgrade cv-editor-2.0-1 0"}
        << QStringList{"cv-editor|require|2.0-1|default|0|1|0|0",
                       "cv-editor|require|2.0-1|pilot|1|1|0|0"};
    // The group held to 1.9-1 is done at it; the pilot's deferral of 2.0-1 counts there.
    QTest::newRow("without a version: the version each group is served")
        << "require cv-editor by 2026-12-11 window 12:00-14:00\n"
        << QStringList{"10.1.2.2 defer cv-editor-2.0-1 0", "10.9.0.1 defer cv-editor-2.0-1 0"}
        << QStringList{"cv-editor|require|1.9-1|default|1|0|0|0",
                       "cv-editor|require|2.0-1|pilot|1|0|1|0"};
}

void TestPlans::requiredReport()
{
    QFETCH(QString, overrides);
    QFETCH(QStringList, results);
    QFETCH(QStringList, rows);
    QTemporaryDir folder;
    FleetDatabase fleet;
    QString error;
    QVERIFY2(fleet.open(folder.filePath("fleet.db"), false, &error), qPrintable(error));
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    int id = 0;
    QVector<FleetDatabase::Report> batch;
    const auto report = [&](const QString &desktop, const QString &frame) {
        FleetDatabase::Report entry{desktop, QString(), now, ReportFrame(), 0};
        QString wrong;
        QVERIFY2(entry.frame.parse(frame, &wrong), qPrintable(wrong));
        batch << entry;
    };
    const auto inventory = [&](const QString &desktop, const QStringList &packages) {
        ReportFrame::Inventory made{QStringLiteral("0123456789abcdef-%1").arg(++id), now, 1,
                                    packages};
        report(desktop, ReportFrame::composeInventory(desktop, made, 65535));
    };
    inventory("10.1.2.1", {"cv-editor-2.0-1"});
    inventory("10.1.2.2", {"cv-editor-1.9-1", "cv-games-1.0-1"});
    inventory("10.9.0.1", {"cv-editor-1.9-1"});
    for (const QString &result : results) {
        const QStringList words = result.split(' ');
        // Each later by the desktop's clock, the order the report reads them in.
        ReportFrame::Result made{QStringLiteral("0123456789abcdef-%1").arg(++id),
                                 now + id,
                                 words[1],
                                 words[2],
                                 words[3].toInt(),
                                 QStringLiteral("text")};
        report(words[0], ReportFrame::composeResult(words[0], made));
    }
    QVERIFY2(fleet.store(batch, 30, &error), qPrintable(error));
    DesktopGroups groups;
    QVERIFY(groups.add("pilot 10.1.2.0/24", &error));
    CatalogOverrides statements;
    QVERIFY2(statements.parse(overrides, "o.conf", &error), qPrintable(error));
    // A rollout holds every group but the pilot to 1.9-1.
    const PlanWriter::Served served = [](const QString &group, const QString &package) {
        return package != QLatin1String("cv-editor") ? QString()
               : group == QLatin1String("pilot")     ? QStringLiteral("2.0-1")
                                                     : QStringLiteral("1.9-1");
    };
    QStringList got;
    for (const QStringList &row :
         RequiredReport(fleet.handle(), groups, served).table(statements.requirements()).rows)
        got << row.join('|');
    QCOMPARE(got, rows);
}

QTEST_GUILESS_MAIN(TestPlans)
#include "tst_plans.moc"
