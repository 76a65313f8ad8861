#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>

// Regular files of an uncompressed tar archive (ustar or GNU), read in memory: nothing of the
// archive reaches the disk, so its links and paths can point nowhere.
namespace TarArchive
{

// The regular-file members named in wanted, by name. Other members, and whatever follows a
// damaged header, are passed over.
QHash<QString, QByteArray> regularFiles(const QByteArray &tar, const QSet<QString> &wanted);

} // namespace TarArchive
