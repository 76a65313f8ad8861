#include "planrunner.h"

#include "engine/rpmlock.h"
#include "engine/shellfunctions.h"
#include "engine/shelltranscript.h"
#include "packageuse.h"
#include "records/operationword.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "records/version.h"
#include "sessionnotice.h"
#include "sync/reportoutbox.h"
#include "sync/reportsender.h"
#include "workslot.h"

#include <QDebug>
#include <QProcess>

namespace
{

QString verbOf(const PlanFrame::Item &item, const QString &installed)
{
    return item.remove           ? QStringLiteral("卸载")
           : installed.isEmpty() ? QStringLiteral("安装")
                                 : QStringLiteral("升级");
}

QString clock(const QDateTime &at)
{
    return at.toString(QStringLiteral("MM-dd HH:mm"));
}

} // namespace

QString PlanRunner::installedVersion(const QString &package)
{
    QProcess rpm;
    rpm.start(QStringLiteral("rpm"), {QStringLiteral("-q"), QStringLiteral("--qf"),
                                      QStringLiteral("%{VERSION}-%{RELEASE}\\n"), package});
    if (!rpm.waitForFinished(60000) || rpm.exitCode() != 0)
        return QString();
    return QString::fromUtf8(rpm.readAllStandardOutput()).section(QLatin1Char('\n'), 0, 0);
}

bool PlanRunner::isSatisfied(const PlanFrame::Item &item, QString *installed) const
{
    *installed = installedVersion(item.package);
    if (item.remove)
        return installed->isEmpty();
    // Never a downgrade: a newer version installed counts as done, as in the store.
    // compareversion: 1 when the installed one (first) is older.
    return !installed->isEmpty() && compareversion(*installed, item.versionRelease) <= 0;
}

qint64 PlanRunner::run(const PlanFrame &plan, const QDateTime &now)
{
    qint64 wait = LongestWait;
    for (const PlanFrame::Item &item : plan.items) {
        const QString key = item.key();
        const AgentDatabase::ItemState state = m_database->state(key);
        if (state == AgentDatabase::ItemState::Done || state == AgentDatabase::ItemState::Failed)
            continue;
        QString installed;
        if (isSatisfied(item, &installed)) {
            m_database->setState(key, AgentDatabase::ItemState::Done, now.toSecsSinceEpoch());
            continue;
        }
        const QString verb = verbOf(item, installed);
        // Past the deadline (a desktop that was off): at once after a short notice.
        const bool late = now.toSecsSinceEpoch() >= item.deadline;
        const QDateTime due =
            late
                ? QDateTime::fromSecsSinceEpoch(m_database->lateSince(key, now.toSecsSinceEpoch()) +
                                                qMin(item.notice, SoonSeconds))
                : WorkSlot::next(m_identity, key, item.windowStart, item.windowEnd, now);
        const qint64 until = due.toSecsSinceEpoch() - now.toSecsSinceEpoch();
        if (until > item.notice) {
            wait = qMin(wait, until - item.notice);
            continue;
        }
        const bool toldNow = m_database->tellOnce(key, QStringLiteral("planned"));
        if (toldNow)
            SessionNotice::tell(QStringLiteral("软件维护通知"),
                                QStringLiteral("单位要求的软件 %1 将于 %2 %3，届时请保存工作。")
                                    .arg(item.package, clock(due), verb));
        if (until > 0) {
            // The second notice, unless the first was given just now.
            if (until <= SoonSeconds && m_database->tellOnce(key, QStringLiteral("soon")) &&
                !toldNow)
                SessionNotice::tell(QStringLiteral("软件维护即将开始"),
                                    QStringLiteral("%1 分钟后将%2 %3。")
                                        .arg((until + 59) / 60)
                                        .arg(verb, item.package));
            wait = qMin(wait, until > SoonSeconds ? until - SoonSeconds : until);
            continue;
        }
        const bool forced = now.toSecsSinceEpoch() >= item.deadline + GraceSeconds;
        if (!forced && PackageUse::isInUse(item.package)) {
            m_database->setState(key, AgentDatabase::ItemState::Deferred, now.toSecsSinceEpoch());
            reportDeferral(item, installed, now);
            if (m_database->tellOnce(key, QStringLiteral("deferred ") +
                                              now.date().toString(Qt::ISODate)))
                SessionNotice::tell(QStringLiteral("软件维护已推迟"),
                                    QStringLiteral("%1 正在使用，无法%2。请关闭该程序，"
                                                   "稍后将再次尝试。")
                                        .arg(item.package, verb));
            wait = qMin(wait, qint64(60));
            continue;
        }
        execute(item, installed, now);
    }
    return qMax<qint64>(1, wait);
}

void PlanRunner::reportDeferral(const PlanFrame::Item &item, const QString &installed,
                                const QDateTime &now)
{
    // Once a day: the server learns the desktop waits, without a row each minute it retries.
    if (!m_database->tellOnce(item.key(), QStringLiteral("reported deferral ") +
                                              now.date().toString(Qt::ISODate)))
        return;
    const QString rpm = item.remove ? item.package + QLatin1Char('-') + installed : item.key();
    if (m_outbox->recordResult(OperationWord::deferral(), rpm, 0,
                               QStringLiteral("in use: ") + item.package))
        ReportSender::reportsAdded();
}

void PlanRunner::execute(const PlanFrame::Item &item, const QString &installed,
                         const QDateTime &now)
{
    const QString verb = verbOf(item, installed);
    const QString rpm = item.remove ? item.package + QLatin1Char('-') + installed : item.key();
    // Its own download folder and cache: nothing of the store's downloads is touched, and no
    // command names a folder the store's cancel or progress lookups search.
    // No "--" before the package: the plan's names never start with "-" (PlanFrame), and
    // tools that append their own options would take those for packages.
    const QString cache = QStringLiteral("--setopt=cachedir=") + Paths::agentDownloadDirectory();
    const QString command =
        item.remove
            ? QStringLiteral("yum -y %1 remove %2")
                  .arg(Quoting::shell(cache), Quoting::shell(item.package))
            : QStringLiteral("yum -y %1 %2 %3")
                  .arg(Quoting::shell(cache),
                       installed.isEmpty() ? QStringLiteral("install") : QStringLiteral("upgrade"),
                       Quoting::shell(item.key()));
    int code;
    QString echo;
    {
        ShellTranscript transcript;
        const RpmLock held;
        code = decodeExecStatus(runShell(command));
        echo = transcript.text();
    }
    // Success only when rpm agrees: a tool may exit 0 without having done it.
    QString after;
    if (code == 0 && !isSatisfied(item, &after))
        code = -1;
    m_database->setState(
        item.key(), code == 0 ? AgentDatabase::ItemState::Done : AgentDatabase::ItemState::Failed,
        now.toSecsSinceEpoch());
    const QString oper = item.remove           ? OperationWord::uninstall()
                         : installed.isEmpty() ? OperationWord::install()
                                               : OperationWord::upgrade();
    if (m_outbox->recordResult(oper, rpm, code, echo))
        ReportSender::reportsAdded();
    qInfo().noquote()
        << QStringLiteral("%1 %2: %3").arg(oper, rpm, code == 0 ? echo.right(200) : echo);
    SessionNotice::tell(
        QStringLiteral("软件维护结束"),
        code == 0 ? QStringLiteral("已%1 %2。").arg(verb, item.package)
                  : QStringLiteral("%1 %2 失败，管理员会收到报告。").arg(verb, item.package));
}
