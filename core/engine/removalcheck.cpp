#include "engine/removalcheck.h"

#include "engine/serialworker.h"
#include "records/quoting.h"

#include <QCoreApplication>
#include <QDebug>
#include <QProcess>
#include <QRegularExpression>

namespace
{

SerialWorker &checkThread()
{
    // Made on first use in the GUI thread; it goes with the application.
    static SerialWorker *worker =
        new SerialWorker(QStringLiteral("removal check"), QCoreApplication::instance());
    return *worker;
}

} // namespace

bool RemovalCheck::dependantsOf(const QStringList &names, int timeoutMs, QStringList *dependants)
{
    dependants->clear();
    // rpm's messages in the C locale, so that the lines naming the dependants can be read.
    QString command = QStringLiteral("LC_ALL=C exec rpm -e --test");
    int listed = 0;
    for (const QString &name : names) {
        // Nothing that rpm would read as an option; the uninstall skips such names too.
        if (!Quoting::isSafePathComponent(name))
            continue;
        command += QLatin1Char(' ') + Quoting::shell(name);
        ++listed;
    }
    if (listed == 0)
        return true;

    QProcess rpm;
    rpm.setProcessChannelMode(QProcess::MergedChannels);
    rpm.start(QStringLiteral("sh"), {QStringLiteral("-c"), command});
    // Asked while the user waits for the question: bounded, as rpm may wait for its database.
    if (!rpm.waitForFinished(timeoutMs)) {
        qDebug() << "removal check did not end:" << command;
        rpm.kill();
        rpm.waitForFinished();
        return false;
    }
    if (rpm.exitStatus() != QProcess::NormalExit)
        return false;
    if (rpm.exitCode() == 0)
        return true;

    static const QRegularExpression needed(
        QStringLiteral("^\\s*\\S.* is needed by \\(installed\\) (\\S+)\\s*$"),
        QRegularExpression::MultilineOption);
    const QString output = QString::fromUtf8(rpm.readAll());
    auto match = needed.globalMatch(output);
    while (match.hasNext()) {
        const QString package = match.next().captured(1);
        if (!dependants->contains(package))
            dependants->append(package);
    }
    if (dependants->isEmpty())
        qDebug() << "removal check failed:" << command << output;
    return !dependants->isEmpty();
}

void RemovalCheck::check(QObject *asker, const QStringList &names, int timeoutMs,
                         std::function<void(const Answer &)> done)
{
    checkThread().run<Answer>(
        asker,
        [names, timeoutMs] {
            Answer answer;
            answer.known = dependantsOf(names, timeoutMs, &answer.dependants);
            return answer;
        },
        [done = std::move(done)](Answer answer) { done(answer); });
}
