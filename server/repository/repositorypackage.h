#pragma once

#include <QString>

// A package of a repository's primary metadata, as the catalog needs it.
struct RepositoryPackage {
    QString name;
    QString arch;
    QString version;
    QString release;
    QString summary;
    QString description;
    qint64 installSize = 0; // bytes

    QString nameVersionRelease() const { return name + '-' + version + '-' + release; }
};
