#pragma once

#include "sync/catalogpackage.h"

#include <QString>
#include <QStringList>
#include <QVector>

// A catalog as the server keeps it: an XML file whose root element holds one element per
// package, with the attributes of a frame's package element (name, icon, exec, rpm, class,
// version, size, star, time, desc, rpmdeps).
class CatalogDocument
{
public:
    // The most a frame may take on the transport, its newline in a catalog file included.
    static const int MaxFrameBytes = 65535;

    // False with *error set when the file cannot be read or is not XML.
    static bool load(const QString &path, QVector<CatalogPackage> *packages, QString *error);

    // The packages as frames of at most maxBytes each, counting the newline of a file line.
    // The first frame carries action, every further one continuation. A package that cannot
    // fit even alone is left out and named in *skipped.
    static QStringList frames(const QString &action, const QString &continuation,
                              const QVector<CatalogPackage> &packages, int maxBytes,
                              QStringList *skipped);
};
