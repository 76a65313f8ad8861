#pragma once

#include <QString>
#include <QVector>

// One package element of a catalog frame: the eleven attributes the server delivers. A
// missing attribute reads as the empty text.
struct CatalogPackage {
    QString name;    // display name, the key rows are found, updated and deleted by
    QString icon;    // icon file name, also the package's short name
    QString exec;    // command line that launches the application
    QString rpm;     // name-version-release
    QString version; // version text shown to the user
    QString size;    // size text
    QString desc;    // description
    QString rpmdeps; // dependency list
    QString star;    // rating
    QString klass;   // category code, attribute "class"
    QString time;    // icon time stamp
    // SHA-256 of the icon file, from a signing server; a store with a key keeps only that
    // picture. Not stored: it travels with every frame that names the icon.
    QString iconDigest;
    static const char *const IconDigestAttribute; // "iconsha256"
    // The advisories this version fixes (sync/packageadvisories.h), from a server that reads
    // them. Not a column: a store that knows nothing of them stores the row as before.
    QString advisories;

    // Where each attribute is stored in softwares, in the column order of the catalog
    // statements (s_name first).
    struct Column {
        const char *attribute;
        const char *column;
        QString CatalogPackage::*field;
    };
    static const QVector<Column> &columns();
};
