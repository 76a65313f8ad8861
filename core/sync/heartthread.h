#pragma once

#include "storage/sqlconnection.h"
#include "sync/catalogassembly.h"
#include "sync/iconfetchpool.h"

#include <QHash>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

class CatalogFrame;

// The single consumer of catalog frames: receives them over the transport for the life of
// the facade and applies each one to the catalog database, then refreshes the installed
// packages and install states and tells the facade which packages changed. Frames are handled
// one at a time; the icons they ask for are fetched beside them, a few at once.
class HeartThread : public QThread
{
    Q_OBJECT

public:
    explicit HeartThread(QObject *parent = nullptr);
    ~HeartThread() override;

    // Applies one frame. Frames that end in an error emit nothing.
    void pigxmlData(const QString &data);
    // Rewrites the installed-package table only (before a whole catalog is stored).
    void initLocalData();
    // Installed packages and every install state, then recvServerData("info") and updateEnd.
    void UpdatePushxmlData();
    // 2 when no row has this name, 0 when its s_rpm is rpm, 1 when it differs.
    int isExists(const QString &name, const QString &rpm);
    // Fetches the icon when it is missing or its time stamp changed (queued, see waitForIcons).
    void checkIconDownload(const QString &icon, const QString &time);
    // With the frame's signature checked, an icon is kept only when its SHA-256 is digest
    // (the signed iconsha256): a file on disk that differs is fetched again, and a fetched one
    // that differs is removed before anything decodes it.
    void checkIconDownload(const QString &icon, const QString &time, const QString &digest);
    // Fetches every icon seen so far.
    void downLoadIcons();
    // Removes the directory with everything in it, as the other copies do.
    bool removeDirectory(const QString &path);

    // Until every icon fetch asked for so far has ended; false when timeoutMs passed first.
    bool waitForIcons(int timeoutMs);

    // The next "process-run-end" comes from this process. With catalog keys configured the
    // word ends the receiver only after this call: anyone may send it over the transport.
    void expectStop() { m_stopExpected = true; }

    // An icon name that may become a file below the icon directory and part of a URL.
    static bool isFetchableIcon(const QString &icon);

signals:
    void recvServerData(QString data, QStringList packages);
    void updateEnd(int code);
    // A received text was not applied: not signed by a trusted catalog server, altered, sent
    // again, or a stop word from outside.
    void frameDropped(QString data, QString reason);
    // An icon fetch has ended (from a fetching thread): pictures drawn before it may change.
    void iconFetched();

protected:
    void run() override;

private:
    bool storePackages(const CatalogFrame &frame);
    // A whole catalog in one frame is reconciled at once, one in parts when its last part is in.
    bool reconcileCatalog(const CatalogFrame &frame);
    // Deletes the rows whose name the catalog lacks (name -> its position, from 1). False
    // only when the database cannot be opened; a failed deletion keeps every row and lets the
    // frame finish.
    bool reconcile(const QHash<QString, int> &catalog);
    void fetchIcon(const QString &command, const QString &target);
    void checkSignedIcon(const QString &icon, const QString &time, const QString &digest);
    // The first column of a one-parameter query, on the frame's reading connection while
    // one is open.
    QStringList lookUp(const char *sql, const QString &value);
    static QString iconBase();

    QMap<QString, QString> m_iconList; // icon name -> time stamp, never emptied
    QStringList m_updateList;          // rpm of each package whose s_rpm changed in this frame
    CatalogAssembly m_assembly;        // the parts of a whole catalog stored so far
    IconFetchPool m_iconFetches;
    SqlConnection m_lookup; // open while a frame is stored
    std::atomic<bool> m_stopExpected{false};
    bool m_iconsChecked = false; // the frame being applied was signed by a trusted key
};
