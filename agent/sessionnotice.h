#pragma once

#include <QString>

// Tells the users of the desktop's active graphical sessions, each as their own account
// (notify-send on the session's bus), in Chinese; a desktop with no one logged in is told
// nothing.
namespace SessionNotice
{

// The number of sessions told.
int tell(const QString &title, const QString &body);

} // namespace SessionNotice
