#include "sync/framefile.h"

#include "vqs.h"

#include <QByteArray>
#include <QDebug>
#include <QFile>

namespace FrameFile
{

bool replay(const QString &path, const char *shown)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
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

} // namespace FrameFile
