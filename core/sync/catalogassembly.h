#pragma once

#include <QHash>
#include <QSet>
#include <QString>

class CatalogFrame;

// The parts of one whole catalog that have been stored so far. Only when the last one is in
// do their names make a whole catalog to delete against: a lost part keeps the catalog
// incomplete, and a part of another catalog starts afresh, so no row is ever deleted on a
// partial view.
class CatalogAssembly
{
public:
    // Whether part belongs to the catalog being gathered; a part of any other starts a new one.
    bool isGathering(const CatalogFrame &part) const;
    // Counts a stored part in; true when it was the last one missing. A part that does not
    // say which of how many it is never completes anything.
    bool add(const CatalogFrame &part);
    // Every name of the catalog with the position it was first seen at, from 1.
    const QHash<QString, int> &names() const { return m_names; }
    void clear();

private:
    QString m_catalogId;
    int m_parts = 0;
    QSet<int> m_received;
    QHash<QString, int> m_names;
};
