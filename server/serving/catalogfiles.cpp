#include "serving/catalogfiles.h"

#include "sync/cataloggroup.h"
#include "sync/framesignature.h"

#include <QByteArray>

QString CatalogFiles::catalogFile(const QString &group)
{
    return CatalogGroup::folder(group) + QStringLiteral("data_x86_64");
}

QString CatalogFiles::pushFile(const QString &group)
{
    return CatalogGroup::folder(group) + QStringLiteral("push_x86_64");
}

bool CatalogFiles::writeCatalog(const QString &group, const QStringList &frames,
                                QString *error) const
{
    return writeLines(catalogFile(group), frames, false, error);
}

bool CatalogFiles::appendPush(const QStringList &groups, const QStringList &frames,
                              QString *error) const
{
    for (const QString &group : groups)
        if (!writeLines(pushFile(group), frames, true, error))
            return false;
    return true;
}

bool CatalogFiles::cutPush(const QStringList &groups, QString *error) const
{
    for (const QString &group : groups)
        if (!writeLines(pushFile(group), {}, false, error))
            return false;
    return true;
}

bool CatalogFiles::replaceHeartbeat(const QStringList &groups, const QString &beat, qint64 now,
                                    QString *error) const
{
    for (const QString &group : groups) {
        QByteArray current;
        if (!m_area.read(pushFile(group), &current, error))
            return false;
        QStringList lines;
        for (const QByteArray &line : current.split('\n')) {
            FrameSignature envelope;
            const bool expired = envelope.read(line) && qint64(envelope.expires()) < now;
            if (!line.isEmpty() && !expired && !line.contains(" action='heartbeat'"))
                lines << QString::fromUtf8(line);
        }
        if (!writeLines(pushFile(group), lines << beat, false, error))
            return false;
    }
    return true;
}

bool CatalogFiles::writeLines(const QString &relative, const QStringList &lines, bool append,
                              QString *error) const
{
    // Appending is writing the whole file anew: a store never fetches half of it.
    QByteArray data;
    if (append && !m_area.read(relative, &data, error))
        return false;
    for (const QString &line : lines)
        data += line.toUtf8() + '\n';
    return m_area.write(relative, data, error);
}
