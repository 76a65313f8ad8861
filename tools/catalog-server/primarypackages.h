#pragma once

#include "repositorypackage.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The packages of a primary.xml read with libsolv: for each name the newest one a desktop of
// the catalog's architecture installs (x86_64 or noarch; x86_64 when both are as new).
namespace PrimaryPackages
{

// Sorted by name. False with *error set when the text is not primary metadata.
bool newest(const QByteArray &primaryXml, QVector<RepositoryPackage> *packages, QString *error);

} // namespace PrimaryPackages
