#include "engine/scratchfiles.h"

#include <QByteArray>
#include <QDebug>
#include <QDir>
#include <QFile>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace ScratchFiles
{

namespace
{

bool removeEntry(const QByteArray &path)
{
    if (unlink(path.constData()) == 0 || errno == ENOENT)
        return true;
    // A directory planted at the name; one with content stays and the name cannot be had.
    return (errno == EISDIR || errno == EPERM) && rmdir(path.constData()) == 0;
}

bool moveAside(const QByteArray &path)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QByteArray aside =
            path + ".aside-" + QByteArray::number(getpid()) + '-' + QByteArray::number(attempt);
        // Never over another entry: the other name may be someone's too.
        if (renameat2(AT_FDCWD, path.constData(), AT_FDCWD, aside.constData(), RENAME_NOREPLACE) ==
            0) {
            qDebug() << "moved aside" << QFile::decodeName(path) << "to"
                     << QFile::decodeName(aside);
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    return false;
}

} // namespace

bool createFresh(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    if (!removeEntry(name)) {
        qDebug() << "cannot remove scratch file" << path;
        return false;
    }
    const int fd =
        open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        qDebug() << "cannot create scratch file" << path;
        return false;
    }
    close(fd);
    return true;
}

bool claimDirectory(const QString &path)
{
    const QByteArray name = QFile::encodeName(QDir::cleanPath(path));
    struct stat status;
    if (lstat(name.constData(), &status) == 0) {
        if (S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
            (status.st_mode & (S_IWGRP | S_IWOTH)) == 0)
            return true;
        if (!moveAside(name)) {
            qDebug() << "cannot move aside" << path;
            return false;
        }
    } else if (errno != ENOENT) {
        return false;
    }
    // Exclusive by nature: whoever made the name meanwhile, it is not used.
    if (mkdir(name.constData(), 0700) != 0) {
        qDebug() << "cannot create scratch directory" << path;
        return false;
    }
    return true;
}

} // namespace ScratchFiles
