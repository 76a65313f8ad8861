#include "tasks/progressmeter.h"

#include "engine/scratchfiles.h"
#include "engine/shellfunctions.h"
#include "records/clientconfig.h"
#include "records/paths.h"
#include "records/quoting.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <sys/stat.h>

namespace
{

// The architectures a package file may carry, in order of preference.
const char *const Architectures[] = {".x86_64.rpm", ".noarch.rpm", ".aarch64.rpm", ".mips64el.rpm"};

// pkgpath/PKG/PKG: a package file's name without its architecture part.
QString packageFileStem(const QString &rpm)
{
    return ClientConfig::pkgpath() + QLatin1Char('/') + rpm + QLatin1Char('/') + rpm;
}

// Identifies one state of a file: another file, or the same one written to, differs.
// Empty when nothing is there.
QString fileStamp(const QString &path)
{
    struct stat status;
    if (stat(QFile::encodeName(path).constData(), &status) != 0)
        return QString();
    return QStringLiteral("%1:%2:%3.%4:%5")
        .arg(status.st_dev)
        .arg(status.st_ino)
        .arg(status.st_mtim.tv_sec)
        .arg(status.st_mtim.tv_nsec)
        .arg(status.st_size);
}

// Every non-empty line of the file, the last one winning; the previous value otherwise.
// The file is the process's own, made afresh for the command that filled it.
bool readLastLine(const QString &path, QString *value)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return false;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine();
        if (!line.isEmpty())
            *value = line;
    }
    return true;
}

// This download's file: yum 3 downloads into NAME.ARCH.rpm.PID.tmp; dnf writes the final
// NAME.ARCH.rpm in place while it downloads, so that name is looked for after the partial
// names.
QString partialFile(const ProgressQuery &query, const QString &yumPid)
{
    const QString stem = packageFileStem(query.rpm);
    for (const char *arch : Architectures) {
        const QString path =
            stem + QLatin1String(arch) + QLatin1Char('.') + yumPid + QStringLiteral(".tmp");
        if (QFileInfo::exists(path))
            return path;
    }
    // A complete file left by an earlier download is no progress of this one: it counts
    // only once it is another file or has been written since the download began.
    for (const char *arch : Architectures) {
        const QString path = stem + QLatin1String(arch);
        const QString stamp = fileStamp(path);
        if (!stamp.isEmpty() && stamp != query.leftovers.value(path))
            return path;
    }
    return QString();
}

} // namespace

namespace ProgressMeter
{

ProgressReading measure(const ProgressQuery &query)
{
    ProgressReading reading;
    reading.yumPid = query.yumPid;
    // Each scratch file is made afresh before its command; otherwise the previous value stays.
    const QString yumPids = Paths::processYumFile();
    if (ScratchFiles::createFresh(yumPids)) {
        runShell(QStringLiteral("ps -aux | grep 'yum install --downloadonly --downloaddir'  | "
                                "grep -v grep | grep -v stopper | awk '{print $2}' > ") +
                 Quoting::shell(yumPids));
        readLastLine(yumPids, &reading.yumPid);
    }

    const QString path = partialFile(query, reading.yumPid);
    if (path.isEmpty())
        return reading;
    reading.found = true;

    const QString sizeFile = Paths::packageSizeFile();
    if (ScratchFiles::createFresh(sizeFile)) {
        runShell(QStringLiteral("export LANG=en_US.UTF-8 && du -sb ") + Quoting::shell(path) +
                 QStringLiteral(" | awk '{print $1}' > ") + Quoting::shell(sizeFile));
        QString size;
        if (readLastLine(sizeFile, &size) && !size.isEmpty()) {
            reading.loadSize = size;
            reading.sizeRead = true;
        }
    }
    return reading;
}

QHash<QString, QString> leftovers(const QString &rpm)
{
    QHash<QString, QString> files;
    const QString stem = packageFileStem(rpm);
    for (const char *arch : Architectures) {
        const QString path = stem + QLatin1String(arch);
        const QString stamp = fileStamp(path);
        if (!stamp.isEmpty())
            files.insert(path, stamp);
    }
    return files;
}

} // namespace ProgressMeter
