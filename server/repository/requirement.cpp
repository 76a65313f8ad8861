#include "repository/requirement.h"

#include "groups/desktopgroups.h"
#include "repository/statementwords.h"

#include <QDateTime>
#include <QRegularExpression>

namespace
{

// A date alone is the end of that day: "by Friday" leaves Friday to do it.
qint64 parseDeadline(const QString &text)
{
    QDateTime at = QDateTime::fromString(text, QStringLiteral("yyyy-MM-ddTHH:mm"));
    if (!at.isValid()) {
        const QDate day = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
        if (!day.isValid())
            return 0;
        at = QDateTime(day.addDays(1), QTime(0, 0));
    }
    return at.toSecsSinceEpoch();
}

} // namespace

qint64 Requirement::parseDuration(const QString &text)
{
    const QRegularExpressionMatch match =
        QRegularExpression(QStringLiteral("^(\\d{1,9})([smhd]?)$")).match(text);
    if (!match.hasMatch())
        return -1;
    const QString unit = match.captured(2);
    const qint64 seconds = unit == QLatin1String("m")   ? 60
                           : unit == QLatin1String("h") ? 3600
                           : unit == QLatin1String("d") ? 86400
                                                        : 1;
    return match.captured(1).toLongLong() * seconds;
}

bool Requirement::parse(const QStringList &words, Requirement *requirement, QString *error)
{
    Requirement parsed;
    parsed.item.remove = words.value(0) == QLatin1String("remove");
    const QString usage =
        parsed.item.remove
            ? QStringLiteral("expected: remove PACKAGE [for GROUP] by DEADLINE window "
                             "HH:MM-HH:MM [notice DURATION]")
            : QStringLiteral("expected: require PACKAGE [VERSION-RELEASE] [for GROUP] by "
                             "DEADLINE window HH:MM-HH:MM [notice DURATION]");
    const auto fail = [&](const QString &what) {
        *error = what.isEmpty() ? usage : what;
        return false;
    };
    int at = 1;
    parsed.item.package = words.value(at++);
    if (!StatementWords::isPackageName(parsed.item.package))
        return fail(QString());
    if (!parsed.item.remove && StatementWords::isVersionRelease(words.value(at)))
        parsed.item.versionRelease = words.value(at++);
    parsed.item.notice = DefaultNotice;
    bool sawDeadline = false;
    bool sawWindow = false;
    QStringList seen;
    while (at < words.size()) {
        const QString word = words[at];
        const QString value = words.value(at + 1);
        if (value.isEmpty() || seen.contains(word))
            return fail(QString());
        seen << word;
        at += 2;
        if (word == QLatin1String("for")) {
            if (!DesktopGroups::isName(value))
                return fail(QStringLiteral("\"%1\" is not a group name").arg(value));
            parsed.group = value;
        } else if (word == QLatin1String("by")) {
            parsed.item.deadline = parseDeadline(value);
            if (parsed.item.deadline <= 0)
                return fail(QStringLiteral("deadline must be YYYY-MM-DD or YYYY-MM-DDTHH:MM"));
            sawDeadline = true;
        } else if (word == QLatin1String("window")) {
            if (!PlanFrame::parseWindow(value, &parsed.item.windowStart, &parsed.item.windowEnd))
                return fail(QStringLiteral("window must be HH:MM-HH:MM, of some length"));
            sawWindow = true;
        } else if (word == QLatin1String("notice")) {
            parsed.item.notice = parseDuration(value);
            if (parsed.item.notice < 0 || parsed.item.notice > 30 * 86400)
                return fail(QStringLiteral("notice must be a duration up to 30d"));
        } else {
            return fail(QString());
        }
    }
    if (!sawDeadline || !sawWindow)
        return fail(QString());
    *requirement = parsed;
    return true;
}
