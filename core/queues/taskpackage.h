#pragma once

#include <QString>

// The parts of a task's package string (name-version-release, split at every '-' with empty
// fields kept) that the workers put into their commands and table rows.
struct TaskPackage {
    explicit TaskPackage(const QString &rpmname);

    QString name;        // all fields but the last two; empty with fewer than three
    QString version;     // the second last field
    QString release;     // the last field
    QString nameVersion; // all fields but the last: what a download asks yum for
};
