#pragma once

#include <QString>
#include <QStringList>

#include <functional>

class QObject;

// What an uninstall would break. The uninstall runs rpm -e with --nodeps, so rpm's own
// dependency check is asked beforehand: rpm -e --test over the whole set, so that packages
// removed together do not count and a capability another package still provides breaks
// nothing.
namespace RemovalCheck
{

// The installed packages (name-version-release.arch) outside names that need something only
// names provide. Waits at most timeoutMs for rpm; false when rpm could not tell (it did not
// end in time, or refused the set without naming what needs it).
bool dependantsOf(const QStringList &names, int timeoutMs, QStringList *dependants);

struct Answer {
    bool known = false; // what dependantsOf returned
    QStringList dependants;
};

// dependantsOf on the checks' own thread, one check at a time; done runs later on the calling
// thread, only while asker exists. Not the process probe's thread: a check that waits for rpm
// must not hold up the running checks queued behind it.
void check(QObject *asker, const QStringList &names, int timeoutMs,
           std::function<void(const Answer &)> done);

} // namespace RemovalCheck
