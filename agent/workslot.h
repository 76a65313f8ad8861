#pragma once

#include <QDateTime>
#include <QString>

// When one desktop does one item: at a point of the daily window fixed by a hash of the
// desktop's identity and the item, so that the desktops of a fleet spread over the window
// rather than download at once. Times are local, so a window keeps its clock hours across a
// change of time.
namespace WorkSlot
{

// Seconds into the window, in [0, length).
qint64 offset(const QString &identity, const QString &itemKey, qint64 windowSeconds);

// When the item is due, seen at now: the slot of the window that is open now or comes next.
// A window open now whose slot has passed (the desktop was off, or the agent was not
// running) is due at once. windowStart, windowEnd: minutes after midnight; the end before the
// start crosses midnight.
QDateTime next(const QString &identity, const QString &itemKey, int windowStart, int windowEnd,
               const QDateTime &now);

} // namespace WorkSlot
