#include "sync/icondigest.h"

#include <QCryptographicHash>
#include <QFile>

namespace IconDigest
{

QString ofFile(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!file.open(QIODevice::ReadOnly) || !hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

} // namespace IconDigest
