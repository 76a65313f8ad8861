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
    // Hexadecimal digits of the id the parts of one catalog share.
    static constexpr int CatalogIdLength = 16;

    // False with *error set when the file cannot be read or is not XML.
    static bool load(const QString &path, QVector<CatalogPackage> *packages, QString *error);

    // A whole catalog as "data_resp" frames of at most maxBytes each, counting the newline of
    // a file line: the plain frame when it fits one, else numbered parts that share a catalog
    // id made from their contents and split. A package that cannot fit even alone is left out
    // and named in *skipped.
    static QStringList catalogFrames(const QVector<CatalogPackage> &packages, int maxBytes,
                                     QStringList *skipped);
    // The packages as action frames (pushes), split the same way; each frame stands alone.
    static QStringList frames(const QString &action, const QVector<CatalogPackage> &packages,
                              int maxBytes, QStringList *skipped);

private:
    // Packages in order, grouped so that each group with frameBytes of frame around it keeps
    // within maxBytes and a newline.
    static QVector<QVector<CatalogPackage>> split(const QVector<CatalogPackage> &packages,
                                                  int frameBytes, int maxBytes,
                                                  QStringList *skipped);
};
