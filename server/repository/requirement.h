#pragma once

#include "sync/planframe.h"

#include <QString>
#include <QStringList>
#include <QVector>

// What the organisation requires of one group's desktops (or everyone's), from the override
// file:
//   require PACKAGE [VERSION-RELEASE] [for GROUP] by DEADLINE window HH:MM-HH:MM [notice DURATION]
//   remove PACKAGE [for GROUP] by DEADLINE window HH:MM-HH:MM [notice DURATION]
// DEADLINE is YYYY-MM-DD (the end of that day) or YYYY-MM-DDTHH:MM, in the server's local time;
// the window is in each desktop's local time; DURATION is seconds, or a number with s, m, h or
// d. Without a version the plan names the version the group is served, so pins and rollouts
// decide the version and the requirement only the time.
struct Requirement {
    QString group; // empty: every group
    PlanFrame::Item item;

    static constexpr qint64 DefaultNotice = 3600;

    // words: the statement split at blanks, the keyword first. False with *error saying what
    // is wrong.
    static bool parse(const QStringList &words, Requirement *requirement, QString *error);
    // Seconds of "90", "15m", "24h", "2d"; -1 when it is none.
    static qint64 parseDuration(const QString &text);
};

using Requirements = QVector<Requirement>;
