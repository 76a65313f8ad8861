#include "workslot.h"

#include <QCryptographicHash>

namespace
{

// The window that opened on day, local time: its end on the clock, so a change of time makes
// that night's window shorter or longer rather than moving its end. A clock time the change
// skips counts from the hour after.
struct Window {
    QDateTime opened;
    QDateTime closes;
};

Window windowOf(const QDate &day, int windowStart, int windowEnd)
{
    const QDate last = windowEnd <= windowStart ? day.addDays(1) : day;
    return {QDateTime(day, QTime(windowStart / 60, windowStart % 60)),
            QDateTime(last, QTime(windowEnd / 60, windowEnd % 60))};
}

} // namespace

qint64 WorkSlot::offset(const QString &identity, const QString &itemKey, qint64 windowSeconds)
{
    const QByteArray digest = QCryptographicHash::hash(
        (identity + QLatin1Char('\n') + itemKey).toUtf8(), QCryptographicHash::Sha256);
    quint64 value = 0;
    for (int i = 0; i < 8; ++i)
        value = value << 8 | quint8(digest[i]);
    return windowSeconds > 0 ? qint64(value % quint64(windowSeconds)) : 0;
}

QDateTime WorkSlot::next(const QString &identity, const QString &itemKey, int windowStart,
                         int windowEnd, const QDateTime &now)
{
    // Yesterday's window may still be open (across midnight), else today's or tomorrow's.
    for (int day = -1; day <= 2; ++day) {
        const Window window = windowOf(now.date().addDays(day), windowStart, windowEnd);
        if (window.closes <= now)
            continue;
        const QDateTime slot =
            window.opened.addSecs(offset(identity, itemKey, window.opened.secsTo(window.closes)));
        return slot < now ? now : slot;
    }
    return now;
}
