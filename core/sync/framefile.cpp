#include "sync/framefile.h"

#include "vqs.h"

#include <QByteArray>
#include <QCryptographicHash>
#include <QDebug>
#include <QFile>

namespace FrameFile
{

bool replay(const QString &path, const char *shown, qint64 from)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text) || !file.seek(from)) {
        qDebug() << "open file " + path + " failed";
        return false;
    }
    // A frame and its newline fit; what reaches the bound without one is too long.
    constexpr qint64 Bound = VQS_MAX_MESSAGE + 2;
    while (!file.atEnd()) {
        const QByteArray line = file.readLine(Bound);
        if (line.size() > VQS_MAX_MESSAGE + 1 || (!line.endsWith('\n') && !file.atEnd())) {
            QByteArray rest = line;
            while (!rest.endsWith('\n') && !file.atEnd())
                rest = file.readLine(Bound);
            qWarning().noquote() << QStringLiteral("frame skipped: a line of %1 longer than %2 "
                                                   "bytes")
                                        .arg(path)
                                        .arg(VQS_MAX_MESSAGE);
            continue;
        }
        qDebug() << shown << QString::fromUtf8(line);
        vqs_message_send("127.0.0.1", line.constData());
    }
    return true;
}

QByteArray digestOfStart(const QString &path, qint64 size)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < size)
        return QByteArray();
    QCryptographicHash hash(QCryptographicHash::Sha256);
    char chunk[65536];
    for (qint64 left = size; left > 0;) {
        const qint64 got = file.read(chunk, qMin<qint64>(left, sizeof chunk));
        if (got <= 0)
            return QByteArray();
        hash.addData(chunk, int(got));
        left -= got;
    }
    return hash.result();
}

} // namespace FrameFile
