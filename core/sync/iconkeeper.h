#pragma once

#include "sync/iconfetchpool.h"

#include <QMap>
#include <QString>
#include <QStringList>

#include <functional>
#include <mutex>

// Keeps the package icons below the icon directory current: decides which ones to fetch for
// a frame's packages and hands them to a pool of fetching threads.
class IconKeeper
{
public:
    // The time stamps stored for an icon name (the frame receiver reads them on the frame's
    // connection).
    using StoredTimes = std::function<QStringList(const QString &icon)>;

    explicit IconKeeper(StoredTimes storedTimes);
    ~IconKeeper();

    // Sets the icon's entry in the icon list, which is never emptied: the time stamp, and for
    // a signed frame (checked) the digest its picture must have.
    void note(const QString &icon, const QString &time, const QString &digest, bool checked);
    // Fetches every icon of the list again, each as its last frame asks: a signed one only
    // kept when it matches its digest, one signed without a digest not at all.
    void fetchAll();
    // Fetches the icon when it is missing or its time stamp changed.
    void checkUnsigned(const QString &icon, const QString &time);
    // For a signed frame: an icon is kept only when its SHA-256 is digest; a file on disk that
    // differs is fetched again and replaced only by a fetched one that matches, and one that
    // differs is removed before anything decodes it.
    void checkSigned(const QString &icon, const QString &digest);
    // Until every fetch asked for so far has ended; false when timeoutMs passed first.
    bool waitForIdle(int timeoutMs);
    // Called on a fetching thread after each fetch.
    void setFetchEnded(std::function<void()> fetchEnded);

    // An icon name that may become a file below the icon directory and part of a URL.
    static bool isFetchableIcon(const QString &icon);

private:
    struct Noted {
        QString time;
        QString digest;
        bool checked = false;
    };

    bool isCurrent(const QString &icon, const QString &time) const;
    static QString iconBase();
    // The one-icon command the log shows; the pool fetches icons in batches.
    static QString command(const QString &target, const QString &url);

    StoredTimes m_storedTimes;
    std::mutex m_listLock; // fetchAll may run on another thread than the frames
    QMap<QString, Noted> m_iconList;
    IconFetchPool m_pool;
};
