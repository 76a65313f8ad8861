#pragma once

#include <QMetaType>
#include <QString>
#include <QVector>

// One catalog package as the application shows it. The field order is part of the
// interface: records are filled column by column from the catalog queries.
struct RpmData {
    QString m_rpm;         // full package string, key of operations and install states
    QString m_icon;        // short name: key into software/loadmanage, names the icon file
    QString m_exec;        // command line that starts the application
    QString m_name;        // display name
    QString m_version;     // catalog version (installed one in upgrade listings)
    QString m_size;        // size text
    QString m_description; // description text
    QString m_star;        // rating text
    QString m_type;        // category code "1".."13"
    QString m_reserved;    // carried, never filled
    QString m_rpmdeps;     // dependency list text
    int m_state = 0;       // install state (InstallState)
    // An upgradable row's security advisories the installed version lacks, gravest first
    // (sync/packageadvisories.h); empty for any other row.
    QString m_advisories;
};

// Strings and an int only: vectors of records may move them in memory.
Q_DECLARE_TYPEINFO(RpmData, Q_MOVABLE_TYPE);
Q_DECLARE_METATYPE(RpmData)
Q_DECLARE_METATYPE(QVector<RpmData>)
