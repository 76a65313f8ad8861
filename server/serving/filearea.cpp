#include "serving/filearea.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

QString systemError()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The service's own folder, closed to group and others; empty when it is, else why not.
QString folderFault(const struct stat &info)
{
    if (!S_ISDIR(info.st_mode))
        return QStringLiteral("is not a folder");
    if (info.st_uid != ::geteuid())
        return QStringLiteral("belongs to user %1, not to the service").arg(info.st_uid);
    if (info.st_mode & (S_IWGRP | S_IWOTH))
        return QStringLiteral("may be changed by group or others (mode %1)")
            .arg(info.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return QString();
}

bool insideOf(const QString &path, const QString &folder)
{
    return path == folder || path.startsWith(folder + QLatin1Char('/'));
}

// Where a file really is: its links followed (a dangling one too), its folder resolved.
QString realLocation(const QString &path)
{
    QString target = QFileInfo(path).absoluteFilePath();
    for (int hop = 0; hop < 16 && QFileInfo(target).isSymLink(); ++hop)
        target = QFileInfo(target).symLinkTarget();
    const QFileInfo last(target);
    const QString folder = QFileInfo(last.absolutePath()).canonicalFilePath();
    return folder.isEmpty() ? last.absoluteFilePath() : folder + QLatin1Char('/') + last.fileName();
}

} // namespace

FileArea::FileArea(const QString &root) : m_root(root) {}

QString FileArea::refusal(const QString &root, const QStringList &privateFiles)
{
    const QString start = QStringLiteral("file area %1 refused: ").arg(root);
    if (!QFileInfo::exists(root) && !QFileInfo(root).isSymLink() && QDir().mkpath(root))
        QFile::setPermissions(root, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner | QFileDevice::ReadGroup |
                                        QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                        QFileDevice::ExeOther);
    const QString canonical = QFileInfo(root).canonicalFilePath();
    for (const QString &file : privateFiles) {
        if (file.isEmpty())
            continue;
        const QString located = realLocation(file);
        if (!canonical.isEmpty() && insideOf(located, canonical))
            return start + QStringLiteral("%1 lies inside it").arg(file);
        struct stat info;
        // A second name of the key could be anywhere, the file area included.
        if (::lstat(QFile::encodeName(file).constData(), &info) == 0 && S_ISREG(info.st_mode) &&
            info.st_nlink != 1)
            return start +
                   QStringLiteral("%1 has %2 names (a hard link)").arg(file).arg(info.st_nlink);
    }
    QString name;
    QString error;
    const int folder =
        FileArea(root).openParent(QStringLiteral(".cv_data/x"), false, &name, &error);
    if (folder < 0 && !error.isEmpty())
        return start + error;
    if (folder >= 0)
        ::close(folder);
    return QString();
}

int FileArea::openParent(const QString &relative, bool create, QString *name, QString *error) const
{
    QStringList parts = relative.split(QLatin1Char('/'));
    for (const QString &part : parts)
        if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) {
            *error = relative + QStringLiteral(": not a name below the file area");
            return -1;
        }
    *name = parts.takeLast();
    int folder = ::open(QFile::encodeName(m_root).constData(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    QString path = m_root;
    for (int i = 0;; ++i) {
        struct stat info;
        if (folder < 0 || ::fstat(folder, &info) != 0) {
            // A folder not made yet is no fault when nothing is to be made.
            error->clear();
            if (create || errno != ENOENT)
                *error = path + QStringLiteral(": ") +
                         (errno == ELOOP || errno == ENOTDIR
                              ? QStringLiteral("is a symbolic link or not a folder")
                              : systemError());
            if (folder >= 0)
                ::close(folder);
            return -1;
        }
        const QString fault = folderFault(info);
        if (!fault.isEmpty()) {
            *error = path + QLatin1Char(' ') + fault;
            ::close(folder);
            return -1;
        }
        if (i == parts.size())
            return folder;
        const QByteArray part = QFile::encodeName(parts[i]);
        path += QLatin1Char('/') + parts[i];
        const bool made = create && ::mkdirat(folder, part.constData(), 0755) == 0;
        if (create && !made && errno != EEXIST) {
            *error = path + QStringLiteral(": ") + systemError();
            ::close(folder);
            return -1;
        }
        const int next =
            ::openat(folder, part.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        ::close(folder);
        folder = next;
        // Whatever the umask: a folder of ours closed to group and others.
        if (made && folder >= 0)
            ::fchmod(folder, 0755);
    }
}

bool FileArea::write(const QString &relative, const QByteArray &data, QString *error) const
{
    QString name;
    const int folder = openParent(relative, true, &name, error);
    if (folder < 0)
        return false;
    const QString where = m_root + QLatin1Char('/') + relative;
    QByteArray temporary;
    int fd = -1;
    // A fresh name each time: whatever sits at a guessed one makes O_EXCL fail, never followed.
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        temporary = QFile::encodeName(QLatin1Char('.') + name + QLatin1Char('.')) +
                    QByteArray::number(QRandomGenerator::system()->generate64(), 36);
        fd = ::openat(folder, temporary.constData(),
                      O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        *error = where + QStringLiteral(": cannot be written beside: ") + systemError();
        ::close(folder);
        return false;
    }
    qint64 done = 0;
    while (done < data.size()) {
        const ssize_t wrote = ::write(fd, data.constData() + done, size_t(data.size() - done));
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            break;
        done += wrote;
    }
    // Readable by the HTTP server whatever the umask; on the disk before it takes the name.
    int failure = 0;
    if (done != data.size())
        failure = errno ? errno : EIO;
    else if (::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0)
        failure = errno;
    ::close(fd);
    if (!failure &&
        ::renameat(folder, temporary.constData(), folder, QFile::encodeName(name).constData()) != 0)
        failure = errno;
    const bool ok = failure == 0;
    if (ok) {
        ::fsync(folder);
    } else {
        *error = where + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(failure));
        ::unlinkat(folder, temporary.constData(), 0);
    }
    ::close(folder);
    return ok;
}

bool FileArea::writeAll(const QString &folderRelative, const QVector<File> &files,
                        QString *error) const
{
    if (files.isEmpty())
        return true;
    QString name;
    const QString prefix = folderRelative.isEmpty() ? QString() : folderRelative + QLatin1Char('/');
    const int folder = openParent(prefix + files.first().name, true, &name, error);
    if (folder < 0)
        return false;
    for (const File &file : files) {
        const QString where = m_root + QLatin1Char('/') + prefix + file.name;
        int failure = 0;
        // One path component each: the folder was checked once for all of them, and only
        // this service can make names in it.
        if (file.name.isEmpty() || file.name.contains(QLatin1Char('/')) ||
            file.name == QLatin1String(".") || file.name == QLatin1String(".."))
            failure = EINVAL;
        const int fd =
            failure ? -1
                    : ::openat(folder, QFile::encodeName(file.name).constData(),
                               O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
        struct stat info;
        if (!failure && fd < 0)
            failure = errno;
        else if (!failure && (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) ||
                              info.st_nlink != 1 || info.st_uid != ::geteuid()))
            failure = EPERM; // a file with another name, or not ours: never written through
        qint64 done = 0;
        while (!failure && done < file.data.size()) {
            const ssize_t wrote =
                ::write(fd, file.data.constData() + done, size_t(file.data.size() - done));
            if (wrote < 0 && errno == EINTR)
                continue;
            if (wrote <= 0)
                failure = errno ? errno : EIO;
            else
                done += wrote;
        }
        if (!failure && (::ftruncate(fd, done) != 0 || ::fchmod(fd, 0644) != 0))
            failure = errno;
        if (fd >= 0)
            ::close(fd);
        if (failure) {
            *error = where + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(failure));
            ::close(folder);
            return false;
        }
    }
    ::close(folder);
    return true;
}

bool FileArea::read(const QString &relative, QByteArray *data, QString *error) const
{
    data->clear();
    QString name;
    const int folder = openParent(relative, false, &name, error);
    if (folder < 0)
        return error->isEmpty();
    const QString where = m_root + QLatin1Char('/') + relative;
    const int fd = ::openat(folder, QFile::encodeName(name).constData(),
                            O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    const int openError = errno;
    ::close(folder);
    if (fd < 0) {
        if (openError == ENOENT)
            return true;
        *error = where + QStringLiteral(": ") +
                 (openError == ELOOP ? QStringLiteral("is a symbolic link")
                                     : QString::fromLocal8Bit(std::strerror(openError)));
        return false;
    }
    struct stat info;
    QString fault;
    if (::fstat(fd, &info) != 0)
        fault = systemError();
    else if (!S_ISREG(info.st_mode) || info.st_nlink != 1 || info.st_uid != ::geteuid())
        fault = QStringLiteral("is not a file of the service's own with one name");
    char chunk[65536];
    ssize_t got = 0;
    while (fault.isEmpty() && (got = ::read(fd, chunk, sizeof chunk)) != 0) {
        if (got < 0 && errno != EINTR)
            fault = systemError();
        else if (got > 0)
            data->append(chunk, int(got));
    }
    ::close(fd);
    if (!fault.isEmpty()) {
        data->clear();
        *error = where + QLatin1Char(' ') + fault;
        return false;
    }
    return true;
}

bool FileArea::remove(const QString &relative, QString *error) const
{
    QString name;
    const int folder = openParent(relative, false, &name, error);
    if (folder < 0)
        return error->isEmpty();
    const QByteArray file = QFile::encodeName(name);
    struct stat info;
    bool ok = true;
    if (::fstatat(folder, file.constData(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        // Unlinking never follows a link, but a link or folder here is not the service's.
        if (!S_ISREG(info.st_mode) || info.st_uid != ::geteuid()) {
            *error = m_root + QLatin1Char('/') + relative +
                     QStringLiteral(" is not a file the service wrote: left in place");
            ok = false;
        } else if (::unlinkat(folder, file.constData(), 0) != 0 && errno != ENOENT) {
            *error = m_root + QLatin1Char('/') + relative + QStringLiteral(": ") + systemError();
            ok = false;
        }
    }
    ::close(folder);
    return ok;
}
