#pragma once

#include "groups/desktopgroups.h"
#include "groups/groupdesktops.h"
#include "groups/reporteridentity.h"
#include "groups/requestorigin.h"
#include "serving/brokersetup.h"
#include "serving/catalogfiles.h"
#include "serving/clienttable.h"
#include "serving/filearea.h"
#include "serving/serverconsole.h"
#include "sync/catalogpackage.h"
#include "sync/framesigner.h"

#include <QHash>
#include <QString>
#include <QStringList>
#include <QVector>

#include <atomic>
#include <mutex>

class CatalogFrame;
class FleetIngest;

// The organisation's catalog service on the store's transport. It answers join and data
// requests, pushes frames when told to, and writes the catalog and push files that clients
// fetch over HTTP.
class CatalogServer
{
public:
    // How a whole catalog travels, for --help.
    static const char *const CatalogProtocol;
    // The command verbs, for --help; beside addCommands, which a new verb joins.
    static const char *const CommandsHelp;

    // Without answerDataRequests the catalog is only in the catalog file: clients that fetch
    // it over HTTP ask for it over the transport as well. With verbose a message that is not
    // a frame is dumped in hexadecimal. maxClients bounds the clients pushed to over direct
    // TCP; groups the queues made for each group account's desktops.
    CatalogServer(const QString &filesDirectory, int maxFrameBytes, bool answerDataRequests,
                  bool verbose, int maxClients = ClientTable::DefaultLimit,
                  const GroupDesktops &groups = GroupDesktops());

    // Every frame sent or written from now on is signed with key (see FrameSigner).
    void setSigningKey(SigningKey key, const QString &sequenceFile);
    // How long each signed frame stays valid (see FrameSigner::setValidity).
    void setFrameValidity(qint64 seconds) { m_signer.setValidity(seconds); }
    // What the desktops' plans are signed with and written into.
    FrameSigner &signer() { return m_signer; }
    const FileArea &fileArea() const { return m_area; }

    // Reports from the stores go to fleet from now on; without it they are ignored.
    void setFleet(FleetIngest *fleet);
    // Acknowledges reports to the desktop that sent them (from the fleet's writer thread).
    void acknowledgeReports(const QString &desktop, const QStringList &ids);

    // Keeps the desktops admitted for group accounts in file across restarts (see
    // GroupDesktops::keepIn).
    bool keepGroupDesktops(const QString &file, QString *error);
    // The groups desktops are in from now on, each answered with its own catalog.
    void setDesktopGroups(const DesktopGroups &groups);
    const DesktopGroups &desktopGroups() const { return m_desktopGroups; }
    // Through the broker, each group has a stream of its own ("group.NAME" on the exchange,
    // scripts/broker --desktop-group): a group's push is one message there.
    void setGroupStreams(bool on) { m_groupStreams = on; }
    // Before any push: how long pushes into a stream pause before a heartbeat follows (0: never).

    bool setCatalog(const QString &path, QString *error);
    // Serves these packages to every group from now on (writeCatalogFile writes them).
    void setPackages(const QVector<CatalogPackage> &packages);
    // Serves each group its catalog from now on; a group without one gets "default"'s.
    void setCatalogs(const QHash<QString, QVector<CatalogPackage>> &catalogs);
    // The packages as ACTION frames to every desktop a push without address reaches, and
    // appended to the push file when there is a files directory. The number of messages sent;
    // -1 with *error set when the push file cannot be written.
    int pushEverywhere(const QString &action, const QVector<CatalogPackage> &packages,
                       QString *error);
    // The same to the desktops of one group only: over direct TCP to its clients, through the
    // broker into the group's stream, or without group streams to each of its desktops' queues
    // heard from; sealed for the group and appended to the group's own push file.
    int pushToGroup(const QString &group, const QString &action,
                    const QVector<CatalogPackage> &packages, QString *error);
    // Writes each group's catalog file below the files directory (when one is set). After a
    // new catalog the push files restart empty: every push in them was sealed before the
    // catalog just written, whose packages already hold what they did.
    bool writeCatalogFile(QString *error);
    // A signed heartbeat to every desktop a push reaches and in the push file, in place of
    // the one before. The number of messages sent; -1 with *error set as pushEverywhere.
    int sendHeartbeat(QString *error);

    // Prepares the transport's receiver, on the thread that then serves; false when it
    // cannot receive.
    bool listen();
    // Receives and answers requests until stop().
    void serve();
    // Ends serve() once the message under way is answered. Safe from any thread; call again
    // if serve() goes on (the wake-up message may be dropped).
    void stop();
    // One command line; false when it was "quit".
    bool command(const QString &line) { return m_console.run(line); }
    // The command verbs, and lines from a file and standard input.
    ServerConsole &console() { return m_console; }

    void print(const QString &line);

private:
    // False when the text is not a frame. account: who the broker says sent it (empty over
    // direct TCP); peer: the address of the TCP connection (empty through the broker).
    bool handle(const QString &text, const QString &account, const QString &peer);
    // A store's report: checked, charged to its desktop's rate and queued for the fleet
    // database. peer: the TCP peer address, empty when the transport does not say.
    void report(const QString &text, const CatalogFrame &frame, const QString &account,
                const QString &peer);
    // The desktop a request is answered at, noted among the clients with its group (*group);
    // empty when it is refused (said in one line). Called with m_lock held.
    QString requester(const CatalogFrame &frame, const QString &account, const QString &peer,
                      QString *group);
    // " (group NAME)" for the log once groups are configured.
    QString groupNote(const QString &group) const;
    // Sends sealed frames to the desktops of group as pushToGroup does, appending them to the
    // push files of fileGroups; called with m_lock held.
    int groupFrames(const QString &group, const QStringList &frames, const QStringList &fileGroups,
                    QString *error);
    // Sends frames to targets and appends them to the push files of fileGroups.
    int pushFrames(const QStringList &fileGroups, const QStringList &targets,
                   const QStringList &frames, QString *error);
    // The groups with files of their own: every group, once there is a file area.
    QStringList fileGroups() const;
    // The unsealed catalog frames a group's desktops are served; called with m_lock held.
    const QStringList &catalogFramesOf(const QString &group);
    // A "data_resp" is a whole catalog (in parts when it needs several frames); any other
    // action is a push, each frame standing alone.
    QStringList framesOf(const QString &action, const QVector<CatalogPackage> &packages);
    bool send(const QString &address, const QString &text);
    // The routing key of a group's stream.
    static QByteArray groupKey(const QString &group);
    // Signed for group's desktops (named in the signed bytes); for every group when empty.
    QStringList sealed(const QStringList &frames, const QString &group = QString());
    // The last of frames (sealed) is what groups were pushed last; called with m_lock held.
    void notePushed(const QStringList &groups, const QStringList &frames);
    // A signed heartbeat for group's desktops; called with m_lock held.
    QString heartbeatFor(const QString &group);
    // Where a push without address goes; called with m_lock held.
    QStringList pushTargets() const;
    // The command verbs; each says its one answer line.
    void addCommands();
    bool pushCommand(const ServerConsole::Line &line);
    bool publishCommand(const ServerConsole::Line &line);
    // The frames of catalog file for action (sealed for group), after saying the error when it
    // reads not.
    bool commandFrames(const QString &action, const QString &file, const QString &group,
                       QStringList *frames);

    const QString m_files;
    const FileArea m_area;
    const CatalogFiles m_catalogFiles{m_area};
    const int m_maxFrameBytes;
    FrameSigner m_signer;
    const bool m_answerDataRequests;
    const bool m_verbose;
    std::mutex m_outputLock;
    std::mutex m_lock;                           // guards the catalog and the clients
    QHash<QString, QStringList> m_catalogFrames; // per group; "default" for any other
    bool m_catalogChanged = false;               // since the catalog file was last written
    const RequestOrigin m_origin;
    const ReporterIdentity m_identity{m_origin};
    FleetIngest *m_fleet = nullptr;
    ClientTable m_clients;
    QHash<QString, QString> m_clientGroups; // a client's address -> its group
    QHash<QString, quint64> m_lastPushed;   // a group -> the sequence of its last push
    bool m_groupStreams = false;
    DesktopGroups m_desktopGroups;
    GroupDesktops m_groups;
    BrokerSetup m_broker; // makes a group account's desktops' queues
    std::atomic<bool> m_stopping{false};
    ServerConsole m_console{[this](const QString &line) { print(line); }};
};
