#include "repository/tararchive.h"

namespace
{

constexpr int Block = 512;

QByteArray field(const char *header, int offset, int length)
{
    const QByteArray raw(header + offset, length);
    const int end = raw.indexOf('\0');
    return end < 0 ? raw : raw.left(end);
}

} // namespace

QHash<QString, QByteArray> TarArchive::regularFiles(const QByteArray &tar,
                                                    const QSet<QString> &wanted, qint64 maxMember,
                                                    QStringList *oversize)
{
    QHash<QString, QByteArray> files;
    qint64 at = 0;
    while (at + Block <= tar.size()) {
        const char *header = tar.constData() + at;
        const QByteArray name = field(header, 0, 100);
        if (name.isEmpty())
            break; // the end-of-archive blocks
        bool ok = false;
        const qint64 size = field(header, 124, 12).trimmed().toLongLong(&ok, 8);
        if (!ok || size < 0 || at + Block + size > tar.size())
            break;
        // ustar keeps a path prefix apart; '0' and NUL mark a regular file.
        const QByteArray prefix =
            field(header, 257, 6).startsWith("ustar") ? field(header, 345, 155) : QByteArray();
        QString path = QString::fromUtf8(prefix.isEmpty() ? name : prefix + '/' + name);
        if (path.startsWith(QLatin1String("./")))
            path.remove(0, 2);
        const char type = header[156];
        if ((type == '0' || type == '\0') && wanted.contains(path)) {
            if (maxMember < 0 || size <= maxMember)
                files.insert(path, tar.mid(at + Block, size));
            else if (oversize)
                *oversize << path;
        }
        at += Block + (size + Block - 1) / Block * Block;
    }
    return files;
}
