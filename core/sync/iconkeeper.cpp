#include "sync/iconkeeper.h"

#include "records/clientconfig.h"
#include "records/paths.h"
#include "records/quoting.h"
#include "sync/httpfetch.h"
#include "sync/icondigest.h"
#include "sync/synclog.h"

#include <QDebug>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

IconKeeper::IconKeeper(StoredTimes storedTimes) : m_storedTimes(std::move(storedTimes)) {}

IconKeeper::~IconKeeper()
{
    m_pool.setFetchEnded(nullptr);
}

void IconKeeper::note(const QString &icon, const QString &time)
{
    m_icons[icon] = time;
}

bool IconKeeper::isFetchableIcon(const QString &icon)
{
    static const QRegularExpression pattern(
        QRegularExpression::anchoredPattern(QStringLiteral("[a-zA-Z0-9_.-]+")));
    // The pattern lets "." and ".." through; they name directories, not icons.
    return pattern.match(icon).hasMatch() && Quoting::isSafePathComponent(icon);
}

QString IconKeeper::iconBase()
{
    return ClientConfig::iconurl() + QLatin1Char('/');
}

bool IconKeeper::isCurrent(const QString &icon, const QString &time) const
{
    return m_storedTimes(icon).contains(time);
}

void IconKeeper::checkUnsigned(const QString &icon, const QString &time)
{
    const QString base = iconBase();
    if (!isFetchableIcon(icon))
        return;
    const QString target = Paths::iconDirectory() + icon;
    const QString command = HttpFetch::command(target, base + icon);
    if (!QFileInfo::exists(target)) {
        qDebug() << "[01] download cmd : " << command;
        m_pool.fetch(command, target);
        return;
    }
    if (isCurrent(icon, time))
        return;
    qDebug() << "[02] download cmd : " << command;
    m_pool.fetch(command, target);
}

void IconKeeper::checkSigned(const QString &icon, const QString &time, const QString &digest)
{
    if (!isFetchableIcon(icon))
        return;
    const QString target = Paths::iconDirectory() + icon;
    if (digest.isEmpty()) {
        // Nothing signed to check a picture against: none is kept.
        QFile::remove(target);
        qCWarning(syncLog).noquote()
            << QStringLiteral("icon %1 not kept: the catalog signed no digest for it").arg(target);
        return;
    }
    const bool current = IconDigest::ofFile(target) == digest;
    if (current && isCurrent(icon, time))
        return;
    // Written beside the icon and renamed over it once checked: what the icon cells read is
    // never an unchecked file.
    const QString download = target + QStringLiteral("~part"); // no icon name holds "~"
    const QString command = HttpFetch::command(download, iconBase() + icon);
    qDebug() << (current ? "[02] download cmd : " : "[01] download cmd : ") << command;
    m_pool.fetchChecked(command, download, target, digest);
}

void IconKeeper::fetchAll()
{
    const QString base = iconBase();
    qDebug() << "iconList=" << m_icons.size();
    for (auto it = m_icons.cbegin(); it != m_icons.cend(); ++it) {
        if (!isFetchableIcon(it.key()))
            continue;
        const QString target = Paths::iconDirectory() + it.key();
        const QString command = HttpFetch::command(target, base + it.key());
        qDebug() << "[03] download cmd=" << command;
        m_pool.fetch(command, target);
    }
}

bool IconKeeper::waitForIdle(int timeoutMs)
{
    return m_pool.waitForIdle(timeoutMs);
}

void IconKeeper::setFetchEnded(std::function<void()> fetchEnded)
{
    m_pool.setFetchEnded(std::move(fetchEnded));
}
