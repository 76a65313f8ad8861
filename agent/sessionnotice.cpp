#include "sessionnotice.h"

#include "engine/shellfunctions.h"
#include "records/quoting.h"

#include <QProcess>
#include <QRegularExpression>

namespace
{

QString loginctl(const QStringList &arguments)
{
    QProcess process;
    process.start(QStringLiteral("loginctl"), arguments);
    if (!process.waitForFinished(10000))
        return QString();
    return QString::fromUtf8(process.readAllStandardOutput());
}

} // namespace

int SessionNotice::tell(const QString &title, const QString &body)
{
    int told = 0;
    const QStringList sessions =
        loginctl({QStringLiteral("list-sessions"), QStringLiteral("--no-legend")})
            .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString &line : sessions) {
        const QString id = line.trimmed().section(QLatin1Char(' '), 0, 0);
        const QString shown = loginctl(
            {QStringLiteral("show-session"), id, QStringLiteral("-p"), QStringLiteral("Active"),
             QStringLiteral("-p"), QStringLiteral("Type"), QStringLiteral("-p"),
             QStringLiteral("Name"), QStringLiteral("-p"), QStringLiteral("User")});
        const auto field = [&shown](const char *name) {
            const QRegularExpression line(QStringLiteral("^%1=(.*)$").arg(QLatin1String(name)),
                                          QRegularExpression::MultilineOption);
            return line.match(shown).captured(1).trimmed();
        };
        const QString type = field("Type");
        if (field("Active") != QLatin1String("yes") ||
            (type != QLatin1String("x11") && type != QLatin1String("wayland")))
            continue;
        const QString user = field("Name");
        const QString uid = field("User");
        if (user.isEmpty() || uid.toUInt() == 0)
            continue;
        // As the user, on the user's own session bus: root never talks to a user's bus.
        const QString command =
            QStringLiteral(
                "runuser -u %1 -- env DBUS_SESSION_BUS_ADDRESS=unix:path=/run/user/%2/bus "
                "notify-send -a corvane-agent -t 15000 %3 %4")
                .arg(Quoting::shell(user), Quoting::shell(uid), Quoting::shell(title),
                     Quoting::shell(body));
        if (decodeExecStatus(runShell(command)) == 0)
            ++told;
    }
    return told;
}
