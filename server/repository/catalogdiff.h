#pragma once

#include "sync/catalogpackage.h"

#include <QVector>

// What changed between two catalogs, keyed by display name as the stores key their rows.
struct CatalogDiff {
    QVector<CatalogPackage> added;
    QVector<CatalogPackage> updated; // any attribute differs
    QVector<CatalogPackage> deleted;

    static CatalogDiff between(const QVector<CatalogPackage> &before,
                               const QVector<CatalogPackage> &after);
    // The same packages in the same order, attribute for attribute.
    bool operator==(const CatalogDiff &other) const;
    bool isEmpty() const { return added.isEmpty() && updated.isEmpty() && deleted.isEmpty(); }
};
