#pragma once

#include "sync/catalogwriter.h"
#include "sync/iconkeeper.h"

#include <QString>
#include <QStringList>
#include <QThread>

#include <atomic>

// The single consumer of catalog frames, a loop over its parts: it receives frames over the
// transport for the life of the facade (FrameInbox), applies each one to the catalog
// (CatalogWriter), refreshes the installed packages and install states
// (InstalledStateRefresh), tells the user (FrameNotifier) and the facade which packages
// changed, and keeps the icons current (IconKeeper). Frames are handled one at a time.
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
    // (the signed iconsha256).
    void checkIconDownload(const QString &icon, const QString &time, const QString &digest);
    // Fetches every icon of the icon list (every package of every frame stored) again.
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
    // When the last fresh signed frame was taken (Unix seconds); 0 while frames go unchecked.
    qint64 lastFreshFrame() const { return m_lastFresh; }

signals:
    void recvServerData(QString data, QStringList packages);
    void updateEnd(int code);
    // A received text was not applied: not signed by a trusted catalog server, altered, sent
    // again, or a stop word from outside.
    void frameDropped(QString data, QString reason);
    // An icon fetch has ended (from a fetching thread): pictures drawn before it may change.
    void iconFetched();
    // The transport's receiver is attached (recv_init has returned): what is asked for now
    // can be answered here.
    void receiverOpened();
    // A whole catalog answering a data request was applied.
    void catalogAnswered();
    // A signed heartbeat named a frame this store never took: the catalog is to be asked for
    // again, and the store is not current until it comes.
    void catalogBehind();

protected:
    void run() override;

private:
    // True when text was the catalog server's acknowledgement of reports (then applied).
    bool acknowledged(const QByteArray &text);
    void checkSignedIcon(const QString &icon, const QString &digest);

    CatalogWriter m_writer;
    IconKeeper m_icons;
    std::atomic<bool> m_stopExpected{false};
    bool m_iconsChecked = false; // the frame being applied was signed by a trusted key
    quint64 m_sequence = 0;      // its sequence, committed with its rows
    std::atomic<qint64> m_lastFresh{0};
};
