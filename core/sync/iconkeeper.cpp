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

QString IconKeeper::command(const QString &target, const QString &url)
{
    return HttpFetch::command(target, url, HttpFetch::MaxIconBytes);
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
    if (!QFileInfo::exists(target)) {
        qDebug() << "[01] download cmd : " << command(target, base + icon);
        m_pool.fetch(base + icon, target);
        return;
    }
    if (isCurrent(icon, time))
        return;
    qDebug() << "[02] download cmd : " << command(target, base + icon);
    m_pool.fetch(base + icon, target);
}

void IconKeeper::checkSigned(const QString &icon, const QString &digest)
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
    // The picture on disk is the one signed, whatever its time stamp says: it stays.
    if (IconDigest::ofFile(target) == digest) {
        m_pool.keep(target, digest);
        return;
    }
    // Fetched beside the icon and renamed over it once checked: what the icon cells read is
    // never an unchecked file.
    qDebug() << "[01] download cmd : " << command(target, iconBase() + icon);
    m_pool.fetchChecked(iconBase() + icon, target, digest);
}

void IconKeeper::note(const QString &icon, const QString &time, const QString &digest, bool checked)
{
    std::lock_guard<std::mutex> guard(m_listLock);
    m_iconList.insert(icon, {time, digest, checked});
}

void IconKeeper::fetchAll()
{
    const QString base = iconBase();
    QMap<QString, Noted> icons;
    {
        std::lock_guard<std::mutex> guard(m_listLock);
        icons = m_iconList;
    }
    qDebug() << "iconList=" << icons.size();
    for (auto it = icons.cbegin(); it != icons.cend(); ++it) {
        // Nothing signed to check the picture against: a signed frame keeps none.
        if (!isFetchableIcon(it.key()) || (it->checked && it->digest.isEmpty()))
            continue;
        const QString target = Paths::iconDirectory() + it.key();
        qDebug() << "[03] download cmd=" << command(target, base + it.key());
        if (it->checked)
            m_pool.fetchChecked(base + it.key(), target, it->digest);
        else
            m_pool.fetch(base + it.key(), target);
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
