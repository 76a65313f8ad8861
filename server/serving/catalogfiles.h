#pragma once

#include "serving/filearea.h"

#include <QString>
#include <QStringList>

// The catalog file and the push file of each group of desktops in the file area: "default"'s
// where they always were (.cv_data/), any other group's in a folder of its own
// (.cv_data/groups/NAME/). A store fetches its own group's folder, and every signed frame
// names the group it was made for, so no store takes another group's catalog from a file.
class CatalogFiles
{
public:
    explicit CatalogFiles(const FileArea &area) : m_area(area) {}

    bool isSet() const { return m_area.isSet(); }
    static QString catalogFile(const QString &group);
    static QString pushFile(const QString &group);

    bool writeCatalog(const QString &group, const QStringList &frames, QString *error) const;
    // Appends frames to the push file of each of groups.
    bool appendPush(const QStringList &groups, const QStringList &frames, QString *error) const;
    // Empties the push file of each of groups: the catalog file holds what they said.
    bool cutPush(const QStringList &groups, QString *error) const;
    // Puts beat in place of the heartbeat before it in each push file, and leaves out the
    // frames expired by now: the push files keep what a store may still take.
    bool replaceHeartbeat(const QStringList &groups, const QString &beat, qint64 now,
                          QString *error) const;

private:
    bool writeLines(const QString &relative, const QStringList &lines, bool append,
                    QString *error) const;

    const FileArea &m_area;
};
