#pragma once

#include "repository/repositorypackage.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The packages of a primary.xml read with libsolv that a desktop of the catalog's architecture
// installs (x86_64 or noarch; x86_64 when both are of one version).
namespace PrimaryPackages
{

// Every version of each name the repository keeps, one package per version-release: sorted
// by name, newest first. False with *error set when the text is not primary metadata.
bool all(const QByteArray &primaryXml, QVector<RepositoryPackage> *packages, QString *error);
// For each name the newest one, sorted by name.
bool newest(const QByteArray &primaryXml, QVector<RepositoryPackage> *packages, QString *error);
// The newest of each name of packages as all() gives them.
QVector<RepositoryPackage> newestOf(const QVector<RepositoryPackage> &packages);

} // namespace PrimaryPackages
