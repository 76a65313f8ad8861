#pragma once

#include <QString>
#include <QVector>

// One package element of a catalog frame, as the catalog server sends it.
struct CatalogEntry {
    QString name; // display name
    QString icon; // short name: the package name, key of the row
    QString rpm;  // name-version-release
    QString type; // category code
    QString version;
    QString size = QStringLiteral("1000000");
    QString star = QStringLiteral("4");
    QString desc;
    QString exec = QStringLiteral("NULL");
};

// "<frame action=...>" with one element per entry, on one line as the transport carries it.
QString catalogFrame(const QString &action, const QVector<CatalogEntry> &entries);

// count entries named "<prefix> NN" with short names "<prefix>-NN", spread over categories by
// the given function of the index.
QVector<CatalogEntry> generatedCatalog(int count, int (*category)(int index));
