#include "packageuse.h"

#include "records/paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSet>

bool PackageUse::isInUse(const QString &package)
{
    QProcess rpm;
    // The shim of a private root answers for that root; the host's rpm for the host.
    rpm.start(QStringLiteral("rpm"), {QStringLiteral("-ql"), package});
    if (!rpm.waitForFinished(60000) || rpm.exitCode() != 0)
        return false;
    QSet<QString> files;
    for (const QString &file : QString::fromUtf8(rpm.readAllStandardOutput())
                                   .split(QLatin1Char('\n'), Qt::SkipEmptyParts))
        if (file.startsWith(QLatin1Char('/')))
            files.insert(Paths::underRoot(file));
    const QStringList processes =
        QDir(QStringLiteral("/proc")).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &pid : processes) {
        bool number = false;
        pid.toUInt(&number);
        if (!number)
            continue;
        const QString program = QFileInfo(QStringLiteral("/proc/%1/exe").arg(pid)).symLinkTarget();
        if (!program.isEmpty() && files.contains(program))
            return true;
        // A script runs as its interpreter with the script's path as the next word.
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        if (cmdline.open(QIODevice::ReadOnly)) {
            const QList<QByteArray> words = cmdline.read(4096).split('\0');
            for (int i = 0; i < qMin(2, words.size()); ++i)
                if (files.contains(QFile::decodeName(words[i])))
                    return true;
        }
    }
    return false;
}
