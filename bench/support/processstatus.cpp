#include "bench/support/processstatus.h"

#include <QFile>
#include <QRegularExpression>
#include <QString>

double statusOf(qint64 pid, const char *key)
{
    QFile file(QStringLiteral("/proc/%1/status").arg(pid));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    const QRegularExpression line(QStringLiteral("^%1:\\s*(\\d+)").arg(QLatin1String(key)),
                                  QRegularExpression::MultilineOption);
    return line.match(QString::fromLatin1(file.readAll())).captured(1).toDouble();
}
