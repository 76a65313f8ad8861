#pragma once

#include "sync/iconfetchpool.h"

#include <QMap>
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

    // Remembers the icon's time stamp for fetchAll.
    void note(const QString &icon, const QString &time);
    // Fetches the icon when it is missing or its time stamp changed.
    void checkUnsigned(const QString &icon, const QString &time);
    // For a signed frame: an icon is kept only when its SHA-256 is digest; a file on disk that
    // differs is fetched again, and a fetched one that differs is removed before anything
    // decodes it.
    void checkSigned(const QString &icon, const QString &time, const QString &digest);
    // Fetches every icon noted so far.
    void fetchAll();
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
    QMap<QString, QString> m_icons; // icon name -> time stamp, never emptied
    IconFetchPool m_pool;
};
