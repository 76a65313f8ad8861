#pragma once

#include "sync/iconfetchpool.h"

#include <QString>
#include <QStringList>

#include <functional>

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
    bool isCurrent(const QString &icon, const QString &time) const;
    static QString iconBase();

    StoredTimes m_storedTimes;
    IconFetchPool m_pool;
};
