#pragma once

#include <QString>
#include <QVector>

// A version one group is held to while the repository keeps it: an administrator's pin,
// or a rollout that has not reached the group yet or halted before it.
struct VersionHold {
    QString package;
    QString group;
    QString versionRelease;
};

using VersionHolds = QVector<VersionHold>;
