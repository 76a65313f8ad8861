#include "accountaccess.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <sys/stat.h>

namespace
{

bool othersMayEnter(const QString &folder)
{
    struct stat info;
    if (stat(QFile::encodeName(folder).constData(), &info) != 0)
        return false;
    return !S_ISDIR(info.st_mode) || (info.st_mode & S_IXOTH);
}

} // namespace

QString AccountAccess::closedFolder(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    QString folder = QStringLiteral("/");
    if (!othersMayEnter(folder))
        return folder;
    for (const QString &part : absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        folder = QDir(folder).filePath(part);
        if (!othersMayEnter(folder))
            return folder;
    }
    return QString();
}

QString AccountAccess::whyUnreachable(const QString &path)
{
    const QString closed = closedFolder(path);
    if (closed.isEmpty())
        return QString();
    return QStringLiteral("another account cannot enter ") + closed +
           QStringLiteral(" on the way to ") + path +
           QStringLiteral(": the temporary folder (TMPDIR) must be one every user may enter");
}
