#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// An advisory of a repository's updateinfo, as the catalog server keeps it: checked and
// cleaned, the packages it names by name and version-release (no epoch, as rpm -q prints).
struct Advisory {
    struct Fix {
        QString name;
        QString versionRelease;
    };
    QString id;
    QString type;     // security, bugfix, enhancement, newpackage, or empty
    QString severity; // critical, important, moderate, low, or empty
    QString title;
    qint64 issued = 0; // seconds since the epoch, 0 when unknown
    QStringList cves;
    QVector<Fix> fixes;
};
