#include "agentdatabase.h"
#include "plangate.h"
#include "planrunner.h"
#include "records/paths.h"
#include "sync/reportoutbox.h"
#include "workslot.h"

#include "tests/core/queues/toolbox.h"
#include "tests/support/sandbox.h"
#include "tests/support/testkey.h"
#include "tests/support/testrepository.h"

#include <QProcess>
#include <QtTest>

#include <ctime>

namespace
{

const QString Desktop = QStringLiteral("10.1.2.3");

PlanFrame planOf(const QString &desktop, qint64 issued, const QString &window = "12:00-14:00")
{
    PlanFrame plan;
    plan.desktop = desktop;
    plan.issued = issued;
    PlanFrame::Item item;
    item.package = QStringLiteral("cv-hello");
    item.versionRelease = QStringLiteral("1.1-1");
    item.deadline = issued + 86400;
    PlanFrame::parseWindow(window, &item.windowStart, &item.windowEnd);
    plan.items << item;
    return plan;
}

} // namespace

class TestAgent : public QObject
{
    Q_OBJECT

private slots:
    void hostilePlans_data();
    void hostilePlans();
    void windowSlots_data();
    void windowSlots();
    void slotSpread();
    void work_data();
    void work();
};

void TestAgent::hostilePlans_data()
{
    QTest::addColumn<QString>("variant");
    QTest::addColumn<int>("verdict");
    QTest::newRow("own, fresh, newer") << "good" << int(PlanGate::Verdict::Accepted);
    QTest::newRow("another desktop's") << "other" << int(PlanGate::Verdict::OtherDesktop);
    QTest::newRow("unsigned") << "unsigned" << int(PlanGate::Verdict::Unsigned);
    QTest::newRow("untrusted key") << "stranger" << int(PlanGate::Verdict::UnknownKey);
    QTest::newRow("version altered") << "forged" << int(PlanGate::Verdict::Forged);
    QTest::newRow("replayed") << "replayed" << int(PlanGate::Verdict::Replayed);
    QTest::newRow("issued too long ago") << "old" << int(PlanGate::Verdict::Stale);
    QTest::newRow("issued in the future") << "future" << int(PlanGate::Verdict::Stale);
    QTest::newRow("window out of bounds") << "malformed" << int(PlanGate::Verdict::Malformed);
    QTest::newRow("a group's catalog frame") << "catalog" << int(PlanGate::Verdict::Malformed);
    QTest::newRow("no key trusted") << "nokey" << int(PlanGate::Verdict::NoKey);
}

void TestAgent::hostilePlans()
{
    QFETCH(QString, variant);
    QFETCH(int, verdict);
    Sandbox sandbox;
    QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
    if (variant != QLatin1String("nokey"))
        QVERIFY(TestKey::catalog().trust());
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qint64 issued = variant == QLatin1String("old")      ? now - PlanGate::MaxAgeSeconds - 1
                          : variant == QLatin1String("future") ? now + 7200
                                                               : now;
    QString text =
        planOf(variant == QLatin1String("other") ? "10.1.2.4" : Desktop, issued).compose();
    if (variant == QLatin1String("malformed"))
        text.replace(QLatin1String("12:00-14:00"), QLatin1String("12:00-24:00"));
    QByteArray sealed = variant == QLatin1String("unsigned") ? text.toUtf8()
                        : variant == QLatin1String("stranger")
                            ? TestKey::stranger().seal(text.toUtf8())
                        : variant == QLatin1String("catalog")
                            ? TestKey::catalog().seal(text.toUtf8(), QStringLiteral("pilot"))
                            : TestKey::catalog().seal(text.toUtf8());
    if (variant == QLatin1String("forged"))
        sealed.replace("1.1-1", "1.0-1");
    PlanGate gate(Paths::trustedKeyDirectory(), Desktop);
    const quint64 last = variant == QLatin1String("replayed") ? ~quint64(0) >> 1 : 0;
    QCOMPARE(int(gate.admit(sealed, last, now)), verdict);
    QCOMPARE(gate.plan().items.size(), verdict == int(PlanGate::Verdict::Accepted) ? 1 : 0);
}

void TestAgent::windowSlots_data()
{
    QTest::addColumn<QByteArray>("zone");
    QTest::addColumn<QString>("window");
    QTest::addColumn<QString>("now");
    QTest::addColumn<QString>("from"); // the due time lies in [from, to] or is now
    QTest::addColumn<QString>("to");
    QTest::newRow("before today's window") << QByteArray("UTC") << "12:00-14:00"
                                           << "2026-12-09T10:00"
                                           << "2026-12-09T12:00"
                                           << "2026-12-09T14:00";
    QTest::newRow("after it: tomorrow's") << QByteArray("UTC") << "12:00-14:00"
                                          << "2026-12-09T15:00"
                                          << "2026-12-10T12:00"
                                          << "2026-12-10T14:00";
    QTest::newRow("across midnight, before") << QByteArray("UTC") << "23:00-01:00"
                                             << "2026-12-09T22:00"
                                             << "2026-12-09T23:00"
                                             << "2026-12-10T01:00";
    QTest::newRow("across midnight, in yesterday's") << QByteArray("UTC") << "23:00-01:00"
                                                     << "2026-12-10T00:59"
                                                     << "2026-12-10T00:59"
                                                     << "2026-12-10T01:00";
    QTest::newRow("clocks go forward in the window") << QByteArray("Europe/Berlin") << "01:30-03:30"
                                                     << "2026-03-29T00:00"
                                                     << "2026-03-29T01:30"
                                                     << "2026-03-29T03:30";
    QTest::newRow("clocks go back in the window") << QByteArray("Europe/Berlin") << "01:30-03:30"
                                                  << "2026-10-25T00:00"
                                                  << "2026-10-25T01:30"
                                                  << "2026-10-25T03:30";
}

void TestAgent::windowSlots()
{
    QFETCH(QByteArray, zone);
    QFETCH(QString, window);
    QFETCH(QString, now);
    QFETCH(QString, from);
    QFETCH(QString, to);
    const QByteArray before = qgetenv("TZ");
    qputenv("TZ", zone);
    tzset();
    int start = 0;
    int end = 0;
    QVERIFY(PlanFrame::parseWindow(window, &start, &end));
    const QDateTime at = QDateTime::fromString(now, Qt::ISODate);
    const QDateTime first = QDateTime::fromString(from, Qt::ISODate);
    const QDateTime last = QDateTime::fromString(to, Qt::ISODate);
    // Many items, so that slots near both ends of the window are seen.
    for (int i = 0; i < 200; ++i) {
        const QDateTime due = WorkSlot::next(Desktop, QString::number(i), start, end, at);
        QVERIFY2(due >= at && due >= first && due < last, qPrintable(due.toString(Qt::ISODate)));
    }
    qputenv("TZ", before);
    tzset();
}

void TestAgent::slotSpread()
{
    // 10,000 desktops over a two-hour window: each tenth of it gets close to a tenth of them.
    const qint64 length = 7200;
    QVector<int> tenths(10);
    for (int i = 0; i < 10000; ++i) {
        const qint64 offset = WorkSlot::offset(QStringLiteral("10.%1.%2").arg(i / 250).arg(i % 250),
                                               QStringLiteral("cv-editor-2.1-1"), length);
        QVERIFY(offset >= 0 && offset < length);
        ++tenths[int(offset * 10 / length)];
    }
    for (int count : tenths)
        QVERIFY2(count > 850 && count < 1150, qPrintable(QString::number(count)));
}

void TestAgent::work_data()
{
    QTest::addColumn<QString>("statement"); // action package version late|later
    QTest::addColumn<QString>("installedAfter");
    QTest::addColumn<QString>("reported"); // oper:code, or empty
    QTest::newRow("upgrade") << "require cv-hello 1.1-1 late"
                             << "cv-hello-1.1-1"
                             << "upgrade:0";
    QTest::newRow("install") << "require cv-player 3.2-4 late"
                             << "cv-player-3.2-4"
                             << "install:0";
    QTest::newRow("removal") << "remove cv-hello - late"
                             << ""
                             << "remove:0";
    QTest::newRow("outside the window") << "require cv-hello 1.1-1 later"
                                        << "cv-hello-1.0-1"
                                        << "";
    // Reported once, though looked at again while still in use.
    QTest::newRow("application in use") << "require cv-hello 1.1-1 inuse"
                                        << "cv-hello-1.0-1"
                                        << "defer:0";
}

void TestAgent::work()
{
    QFETCH(QString, statement);
    QFETCH(QString, installedAfter);
    QFETCH(QString, reported);
    TestRepository &repository = TestRepository::shared();
    QVERIFY2(repository.isValid(), qPrintable(repository.errorString()));
    Sandbox sandbox(&repository);
    QVERIFY2(sandbox.isValid(), qPrintable(sandbox.errorString()));
    QVERIFY(sandbox.install(TestRepository::standardPackage("cv-hello", "1.0")));
    ToolBox tools(sandbox);
    tools.addGraphicalSession();

    const QStringList words = statement.split(' ');
    const QDateTime now = QDateTime::currentDateTime();
    PlanFrame::Item item;
    item.remove = words[0] == QLatin1String("remove");
    item.package = words[1];
    item.versionRelease = item.remove ? QString() : words[2];
    const bool later = words[3] == QLatin1String("later");
    item.deadline = now.toSecsSinceEpoch() + (later ? 7 * 86400 : -60);
    // A window that opens in three hours is not open now.
    const int minute = now.time().hour() * 60 + now.time().minute();
    item.windowStart = (minute + 180) % 1440;
    item.windowEnd = (minute + 240) % 1440;
    item.notice = 600;
    PlanFrame plan;
    plan.desktop = Desktop;
    plan.items << item;

    QProcess user;
    if (words[3] == QLatin1String("inuse")) {
        user.start("tail", {sandbox.path("/usr/share/cv-hello/version"), "-f"});
        QVERIFY(user.waitForStarted());
    }
    AgentDatabase database;
    QVERIFY(database.open(sandbox.path("/agent.db")));
    ReportOutbox outbox;
    PlanRunner runner(&database, &outbox, Desktop);
    // Past the deadline the work waits for its short notice, then is looked at again.
    const qint64 wait = runner.run(plan, now);
    const QDateTime due = now.addSecs(wait);
    if (!later) {
        QCOMPARE(wait, PlanRunner::SoonSeconds);
        QVERIFY(sandbox.notifications().join('\n').contains(QStringLiteral("软件维护通知")));
        runner.run(plan, due);
    }
    if (user.state() == QProcess::Running)
        runner.run(plan, due.addSecs(60));
    user.kill();
    user.waitForFinished();

    const QStringList installed = sandbox.installedPackages().filter(item.package + '-');
    QCOMPARE(installed.join(' ').remove(QLatin1String(".x86_64")), installedAfter);
    const QVector<ReportOutbox::Entry> results = outbox.pending(10);
    QStringList got;
    for (const ReportOutbox::Entry &entry : results)
        if (entry.frame.contains(QLatin1String("report_result")))
            got << entry.frame;
    QCOMPARE(got.size(), reported.isEmpty() ? 0 : 1);
    if (!reported.isEmpty()) {
        QVERIFY2(got[0].contains("oper='" + reported.section(':', 0, 0) + "'"), qPrintable(got[0]));
        QVERIFY2(got[0].contains("code='" + reported.section(':', 1) + "'"), qPrintable(got[0]));
        QVERIFY2(got[0].contains("rpm='" + item.key() + "'") || item.remove, qPrintable(got[0]));
    }
    // The user heard of it: told before and after, or that the application must close.
    const QString told = sandbox.notifications().join('\n');
    if (later) {
        QVERIFY(told.isEmpty());
        QVERIFY(wait > 0);
    } else if (words[3] == QLatin1String("inuse")) {
        QVERIFY2(told.contains(QStringLiteral("推迟")), qPrintable(told));
        QCOMPARE(int(database.state(item.key())), int(AgentDatabase::ItemState::Deferred));
    } else {
        QVERIFY2(told.contains(QStringLiteral("软件维护通知")) &&
                     told.contains(QStringLiteral("软件维护结束")),
                 qPrintable(told));
        // Done once: a second look reports nothing more.
        QCOMPARE(int(database.state(item.key())), int(AgentDatabase::ItemState::Done));
        runner.run(plan, due.addSecs(60));
        QCOMPARE(outbox.pending(10).size(), results.size());
    }
}

QTEST_GUILESS_MAIN(TestAgent)
#include "tst_agent.moc"
