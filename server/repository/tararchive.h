#pragma once

#include <QByteArray>
#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>

// Regular files of an uncompressed tar archive (ustar or GNU), read in memory: nothing of the
// archive reaches the disk, so its links and paths can point nowhere.
namespace TarArchive
{

// The regular-file members named in wanted, by name ("./" before a name ignored). Other
// members, those over maxMember bytes (named in *oversize) and whatever follows a damaged
// header are passed over.
QHash<QString, QByteArray> regularFiles(const QByteArray &tar, const QSet<QString> &wanted,
                                        qint64 maxMember = -1, QStringList *oversize = nullptr);

} // namespace TarArchive
