#pragma once

#include <QString>

// The group of desktops this store is in, as far as it knows: the one the catalog server named
// in its signed answer to this store's own join (kept across restarts), else the
// configuration's "group" (a store that only polls files), else "default". It picks the folder
// of the file area the store fetches its catalog and push files from, and a signed frame made
// for another group is refused wherever it came from.
namespace CatalogGroup
{

QString current();
// Takes group from a signed join answer addressed to this store, unless an answer with a
// newer sequence named one before. False when it cannot be kept.
bool learn(const QString &group, quint64 sequence);
// Where group's catalog and push files lie in the file area: ".cv_data/" for "default",
// ".cv_data/groups/NAME/" for any other.
QString folder(const QString &group);

} // namespace CatalogGroup
