#include "serving/catalogserver.h"

#include "fleet/fleetingest.h"
#include "mqaid.h"
#include "repository/catalogdocument.h"
#include "sync/catalogframe.h"
#include "sync/framesignature.h"
#include "sync/heartthread.h"
#include "sync/icondigest.h"
#include "sync/reportframe.h"
#include "vqs.h"
#include "vqsbroker.h"

#include <QByteArray>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <climits>
#include <cstdio>

const char *const CatalogServer::CatalogProtocol =
    "A whole catalog is one data_resp frame when it fits (--max-frame, newline included).\n"
    "Otherwise it is sent, and written to the catalog file, as several frames, the first\n"
    "data_resp and the others data_resp_cont, whose datas says which part of how many each\n"
    "is and which catalog it belongs to:\n"
    "  <datas architecture='x86_64' catalog='ID' part='2' parts='9'>\n"
    "ID is made from the packages and the split, so two deliveries of one catalog share it.\n"
    "The store keeps each part's rows as it comes and deletes the rows the catalog lacks only\n"
    "when all parts of one ID have arrived; a lost part means nothing is deleted. A store\n"
    "that knows no parts takes the first for the whole catalog and adds the others.\n"
    "push and publish with the action data_resp send a whole catalog the same way.";

namespace
{

QString brokerBroadcast()
{
    const char *broadcast = vqs_broadcast_address();
    return broadcast ? QString::fromLatin1(broadcast) : QString();
}

} // namespace

CatalogServer::CatalogServer(const QString &filesDirectory, int maxFrameBytes,
                             bool answerDataRequests, bool verbose, int maxClients,
                             const GroupDesktops &groups)
    : m_files(filesDirectory), m_area(filesDirectory), m_maxFrameBytes(maxFrameBytes),
      m_answerDataRequests(answerDataRequests), m_verbose(verbose),
      m_origin(brokerBroadcast(), brokerBroadcast().isEmpty()
                                      ? QString::fromLocal8Bit(qgetenv("VQS_BIND"))
                                      : QString::fromLatin1(vqs_broker_address())),
      m_clients(maxClients), m_groups(groups)
{
    addCommands();
}

void CatalogServer::print(const QString &line)
{
    std::lock_guard<std::mutex> guard(m_outputLock);
    std::fprintf(stdout, "%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

void CatalogServer::setSigningKey(SigningKey key, const QString &sequenceFile)
{
    m_signer.setKey(std::move(key), sequenceFile);
}

QStringList CatalogServer::sealed(const QStringList &frames, const QString &group)
{
    QStringList out;
    out.reserve(frames.size());
    for (const QString &frame : frames)
        out << m_signer.seal(frame, group);
    return out;
}

const QStringList &CatalogServer::catalogFramesOf(const QString &group)
{
    const auto own = m_catalogFrames.constFind(group);
    return own != m_catalogFrames.cend() ? *own : m_catalogFrames[DesktopGroups::Default];
}

QStringList CatalogServer::fileGroups() const
{
    return m_catalogFiles.isSet() ? m_desktopGroups.names() : QStringList();
}

bool CatalogServer::setCatalog(const QString &path, QString *error)
{
    QVector<CatalogPackage> packages;
    if (!CatalogDocument::load(path, &packages, error))
        return false;
    setPackages(packages);
    return true;
}

bool CatalogServer::keepGroupDesktops(const QString &file, QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return m_groups.keepIn(file, error);
}

void CatalogServer::setDesktopGroups(const DesktopGroups &groups)
{
    std::lock_guard<std::mutex> guard(m_lock);
    m_desktopGroups = groups;
}

void CatalogServer::setPackages(const QVector<CatalogPackage> &packages)
{
    setCatalogs({{DesktopGroups::Default, packages}});
}

void CatalogServer::setCatalogs(const QHash<QString, QVector<CatalogPackage>> &catalogs)
{
    // Composed once per group: every request of its desktops is answered with the same frames.
    QHash<QString, QStringList> frames;
    const QVector<CatalogPackage> all = catalogs.value(DesktopGroups::Default);
    const QStringList allFrames = framesOf(QStringLiteral("data_resp"), all);
    // A group with nothing of its own shares the default catalog, and its frames.
    for (auto it = catalogs.cbegin(); it != catalogs.cend(); ++it)
        frames.insert(it.key(), it->isSharedWith(all) ? allFrames
                                                      : framesOf(QStringLiteral("data_resp"), *it));
    std::lock_guard<std::mutex> guard(m_lock);
    m_catalogFrames = frames;
    m_catalogChanged = true;
}

QStringList CatalogServer::pushTargets() const
{
    // Through the broker one copy reaches every desktop; direct TCP sends each its own.
    const char *everyone = vqs_broadcast_address();
    return everyone ? QStringList{QString::fromLatin1(everyone)} : m_clients.addresses();
}

int CatalogServer::pushFrames(const QStringList &fileGroups, const QStringList &targets,
                              const QStringList &frames, QString *error)
{
    if (!m_catalogFiles.appendPush(fileGroups, frames, error))
        return -1;
    int sent = 0;
    for (const QString &target : targets) {
        for (const QString &frame : frames)
            sent += send(target, frame) ? 1 : 0;
        noteStreamPush(target);
    }
    return sent;
}

int CatalogServer::pushEverywhere(const QString &action, const QVector<CatalogPackage> &packages,
                                  QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    // Alike for every group: the frames name none, and go into every group's push file.
    return pushFrames(fileGroups(), pushTargets(), sealed(framesOf(action, packages)), error);
}

int CatalogServer::pushToGroup(const QString &group, const QString &action,
                               const QVector<CatalogPackage> &packages, QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    return groupFrames(group, sealed(framesOf(action, packages), group),
                       m_catalogFiles.isSet() ? QStringList{group} : QStringList(), error);
}

int CatalogServer::groupFrames(const QString &group, const QStringList &frames,
                               const QStringList &fileGroups, QString *error)
{
    if (m_groupStreams && vqs_broadcast_address()) {
        if (!m_catalogFiles.appendPush(fileGroups, frames, error))
            return -1;
        int sent = 0;
        for (const QString &frame : frames)
            sent +=
                vqs_broker_push_group(groupKey(group).constData(), frame.toUtf8().constData()) == 0
                    ? 1
                    : 0;
        m_nudge.written(groupKey(group), QDateTime::currentMSecsSinceEpoch());
        return sent;
    }
    // One at a time, also through the broker: the broadcast reaches every group.
    QStringList targets;
    for (const QString &client : m_clients.addresses())
        if (m_clientGroups.value(client) == group)
            targets << client;
    return pushFrames(fileGroups, targets, frames, error);
}

int CatalogServer::sendHeartbeat(QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const QString beat = m_signer.seal(QStringLiteral("<frame action='heartbeat'/>"));
    if (!m_catalogFiles.replaceHeartbeat(fileGroups(), beat, QDateTime::currentSecsSinceEpoch(),
                                         error))
        return -1;
    int sent = 0;
    for (const QString &target : pushTargets())
        sent += send(target, beat) ? 1 : 0;
    return sent;
}

int CatalogServer::nudgeStreams()
{
    std::lock_guard<std::mutex> guard(m_lock);
    const QList<QByteArray> due = m_nudge.due(QDateTime::currentMSecsSinceEpoch());
    if (due.isEmpty())
        return 0;
    const QByteArray beat = m_signer.seal(QStringLiteral("<frame action='heartbeat'/>")).toUtf8();
    int sent = 0;
    for (const QByteArray &key : due) {
        const int rc = key.isEmpty() ? vqs_message_send(vqs_broadcast_address(), beat.constData())
                                     : vqs_broker_push_group(key.constData(), beat.constData());
        sent += rc == 0 ? 1 : 0;
    }
    return sent;
}

void CatalogServer::noteStreamPush(const QString &target)
{
    const char *everyone = vqs_broadcast_address();
    if (everyone && target == QLatin1String(everyone))
        m_nudge.written(QByteArray(), QDateTime::currentMSecsSinceEpoch());
}

bool CatalogServer::writeCatalogFile(QString *error)
{
    if (!m_catalogFiles.isSet())
        return true;
    std::lock_guard<std::mutex> guard(m_lock);
    // Each group its own file, signed for it: a store of one group takes no other's catalog.
    const QStringList groups = fileGroups();
    for (const QString &group : groups)
        if (!m_catalogFiles.writeCatalog(group, sealed(catalogFramesOf(group), group), error))
            return false;
    // Written again unchanged (signed anew), the catalog covers no more than before.
    if (!m_catalogChanged)
        return true;
    m_catalogChanged = false;
    return m_catalogFiles.cutPush(groups, error);
}

QStringList CatalogServer::framesOf(const QString &action, const QVector<CatalogPackage> &listed)
{
    // A signed frame vouches for each icon's bytes too: a store with the key keeps no other.
    QVector<CatalogPackage> packages = listed;
    if (m_signer.isSigning() && !m_files.isEmpty())
        for (CatalogPackage &package : packages)
            if (HeartThread::isFetchableIcon(package.icon))
                package.iconDigest = IconDigest::ofFile(m_files + QLatin1Char('/') + package.icon);
    QStringList skipped;
    // A signature takes room in every frame.
    const int room = m_maxFrameBytes - (m_signer.isSigning() ? FrameSignature::Overhead : 0);
    const QStringList frames = action == QLatin1String("data_resp")
                                   ? CatalogDocument::catalogFrames(packages, room, &skipped)
                                   : CatalogDocument::frames(action, packages, room, &skipped);
    for (const QString &name : skipped)
        std::fprintf(stderr, "catalog-server: package \"%s\" does not fit in a frame, left out\n",
                     name.toUtf8().constData());
    return frames;
}

QByteArray CatalogServer::groupKey(const QString &group)
{
    return QByteArrayLiteral("group.") + group.toUtf8();
}

bool CatalogServer::send(const QString &address, const QString &text)
{
    // After the last push into the stream the desktop reads: its group's.
    const auto group = m_clientGroups.constFind(address);
    if (m_groupStreams && group != m_clientGroups.cend())
        return vqs_message_send_member(address.toUtf8().constData(), text.toUtf8().constData(),
                                       groupKey(*group).constData()) == 0;
    return vqs_message_send(address.toUtf8().constData(), text.toUtf8().constData()) == 0;
}

bool CatalogServer::listen()
{
    if (vqs_message_recv_init() != 0)
        return false;
    print(QStringLiteral("ready"));
    return true;
}

void CatalogServer::serve()
{
    QByteArray buffer(VQS_MAX_MESSAGE + 1, '\0');
    char account[256];
    char peer[64];
    while (!m_stopping) {
        const int length =
            vqs_message_recv_peer(buffer.data(), account, sizeof account, peer, sizeof peer);
        if (length < 0 || m_stopping)
            continue;
        if (!handle(QString::fromUtf8(buffer.constData()), QString::fromUtf8(account),
                    QString::fromLatin1(peer)) &&
            m_verbose) {
            std::lock_guard<std::mutex> guard(m_outputLock);
            amqp_dump(buffer.constData(), size_t(length));
            std::fflush(stdout);
        }
    }
}

void CatalogServer::stop()
{
    m_stopping = true;
    // The receive has no time-out: a message of our own wakes it, and is not handled. Through
    // the broker 127.0.0.1 is this process's own receiver; over direct TCP the address bound.
    const QByteArray bind = qgetenv("VQS_BIND");
    const bool local = vqs_broadcast_address() || bind.isEmpty() || bind == "0.0.0.0";
    vqs_message_send(local ? "127.0.0.1" : bind.constData(), "<frame action='stop'/>");
}

QString CatalogServer::groupNote(const QString &group) const
{
    return m_desktopGroups.isEmpty() ? QString() : QStringLiteral(" (group %1)").arg(group);
}

QString CatalogServer::requester(const CatalogFrame &frame, const QString &account,
                                 const QString &peer, QString *desktopGroup)
{
    QString refusal;
    const QString address = m_origin.answerAddress(account, frame.client(), peer, &refusal);
    const bool group = !RequestOrigin::groupPrefix(account).isEmpty();
    if (address.isEmpty() || (group && !m_groups.admit(account, address, &refusal))) {
        print(QStringLiteral("refused ") + frame.actionText() + QStringLiteral(": ") + refusal);
        return QString();
    }
    // A group account cannot make its desktops' queues; the answer needs one to land in.
    if (group && (frame.action() == FrameAction::JoinRequest || !m_clients.contains(address))) {
        QString error;
        if (!m_broker.makeDesktopQueue(address, &error))
            print(QStringLiteral("cannot make the queue of %1: %2").arg(address, error));
    }
    const QString dropped = m_clients.note(address);
    if (!dropped.isEmpty()) {
        m_clientGroups.remove(dropped);
        print(QStringLiteral("client table full (%1): %2 dropped")
                  .arg(m_clients.limit())
                  .arg(dropped));
    }
    // Decided anew at each request: a desktop that moved gets its new group's catalog.
    *desktopGroup = m_desktopGroups.of(account, address);
    m_clientGroups.insert(address, *desktopGroup);
    return address;
}

bool CatalogServer::handle(const QString &text, const QString &account, const QString &peer)
{
    CatalogFrame frame;
    QString error;
    if (!frame.parse(text, &error)) {
        print(QStringLiteral("malformed frame: ") + error);
        return false;
    }
    if (ReportFrame::kindOf(frame.actionText()) != ReportFrame::Kind::None) {
        report(text, frame, account, peer);
        return true;
    }
    std::lock_guard<std::mutex> guard(m_lock);
    switch (frame.action()) {
    case FrameAction::JoinRequest: {
        QString group;
        const QString client = requester(frame, account, peer, &group);
        if (client.isEmpty())
            break;
        // Names the group: the store fetches that group's files from now on.
        send(client,
             m_signer.seal(CatalogFrame::composeAddressed(QStringLiteral("join_resp"), client),
                           group));
        print(QStringLiteral("join_requ from ") + client + groupNote(group));
        break;
    }
    case FrameAction::DataRequest: {
        QString group;
        const QString client = requester(frame, account, peer, &group);
        if (client.isEmpty())
            break;
        if (!m_answerDataRequests) {
            print(QStringLiteral("data_requ from %1: not answered").arg(client));
            break;
        }
        int sent = 0;
        // Signed as sent, so a desktop that restarts takes the catalog as newer than what it has.
        for (const QString &data : sealed(catalogFramesOf(group), group))
            sent += send(client, data) ? 1 : 0;
        print(QStringLiteral("data_requ from %1: %2 frame(s)").arg(client).arg(sent) +
              groupNote(group));
        break;
    }
    default:
        print(QStringLiteral("ignored ") + frame.actionText() + QStringLiteral(" from ") +
              frame.client());
    }
    return true;
}

void CatalogServer::setFleet(FleetIngest *fleet)
{
    m_fleet = fleet;
}

void CatalogServer::report(const QString &text, const CatalogFrame &frame, const QString &account,
                           const QString &peer)
{
    if (!m_fleet)
        return;
    QString refusal;
    QString desktop = m_identity.desktop(account, peer, frame.client(), &refusal);
    // A group account speaks only for the desktops it was answered for.
    if (!desktop.isEmpty() && !RequestOrigin::groupPrefix(account).isEmpty()) {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_groups.isAdmitted(account, desktop)) {
            refusal = QStringLiteral("account %1 was never answered at %2").arg(account, desktop);
            desktop.clear();
        }
    }
    // Refused senders share one rate, so that even their log lines are bounded.
    if (!m_fleet->allow(desktop.isEmpty() ? QStringLiteral("(refused)") : desktop))
        return;
    if (desktop.isEmpty()) {
        print(QStringLiteral("refused ") + frame.actionText() + QStringLiteral(": ") + refusal);
        return;
    }
    FleetDatabase::Report report;
    QString error;
    if (!report.frame.parse(text, &error) || report.frame.kind() == ReportFrame::Kind::Ack) {
        print(QStringLiteral("malformed report from %1: %2").arg(desktop, error));
        return;
    }
    report.desktop = desktop;
    report.account = account;
    report.bytes = text.size();
    report.received = QDateTime::currentSecsSinceEpoch();
    m_fleet->submit(std::move(report));
}

void CatalogServer::acknowledgeReports(const QString &desktop, const QStringList &ids)
{
    // A store takes at most ReportFrame::MaxAckIds ids from one frame.
    constexpr int Chunk = ReportFrame::MaxAckIds / 2;
    std::lock_guard<std::mutex> guard(m_lock);
    for (int at = 0; at < ids.size(); at += Chunk)
        send(desktop, m_signer.seal(ReportFrame::composeAck(desktop, ids.mid(at, Chunk))));
}

const char *const CatalogServer::CommandsHelp =
    "Commands, one per line, from --commands and then from standard input:\n"
    "  push ACTION FILE [ADDRESS]  send the packages of catalog FILE as ACTION frames to\n"
    "                              ADDRESS, or to every client that has joined (through\n"
    "                              the broker: once, to the broadcast address)\n"
    "  push ACTION FILE group NAME the same to the desktops of group NAME only, as the\n"
    "                              group's own pushes go\n"
    "  publish ACTION FILE         append them as ACTION frames to the push file\n"
    "  unpublish                   empty the push file\n"
    "  catalog FILE                serve catalog FILE from now on (rewrites the catalog file)\n"
    "  send ADDRESS TEXT           send the rest of the line as one message\n"
    "  heartbeat                   send a signed heartbeat now, as --heartbeat does\n"
    "  promote PACKAGE             give a rollout's new version to every group\n"
    "  resume PACKAGE              the same for a halted rollout\n"
    "  quit                        stop (queued messages are still delivered); SIGTERM and\n"
    "                              SIGINT stop the same way\n"
    "Each command answers with one line \"ok ...\" or \"error ...\" on standard output.\n"
    "A catalog FILE is XML: a root element with one element per package carrying the\n"
    "attributes name, icon, exec, rpm, class, version, size, star, time, desc, rpmdeps.";

void CatalogServer::addCommands()
{
    m_console.add(QStringLiteral("quit"), 1, 1, [this](const ServerConsole::Line &) {
        print(QStringLiteral("ok quit"));
        return false;
    });
    m_console.add(QStringLiteral("catalog"), 2, 2, [this](const ServerConsole::Line &line) {
        QString error;
        if (setCatalog(line.words[1], &error) && writeCatalogFile(&error))
            print(QStringLiteral("ok catalog"));
        else
            print(QStringLiteral("error ") + error);
        return true;
    });
    m_console.add(QStringLiteral("send"), 3, INT_MAX, [this](const ServerConsole::Line &line) {
        std::lock_guard<std::mutex> guard(m_lock);
        print(send(line.words[1], line.rest(2)) ? QStringLiteral("ok send")
                                                : QStringLiteral("error send"));
        return true;
    });
    m_console.add(QStringLiteral("heartbeat"), 1, 1, [this](const ServerConsole::Line &) {
        QString error;
        const int sent = sendHeartbeat(&error);
        print(sent < 0 ? QStringLiteral("error ") + error
                       : QStringLiteral("ok heartbeat %1").arg(sent));
        return true;
    });
    m_console.add(QStringLiteral("unpublish"), 1, 1, [this](const ServerConsole::Line &) {
        QString error;
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_catalogFiles.isSet() && m_catalogFiles.cutPush({DesktopGroups::Default}, &error))
            print(QStringLiteral("ok unpublish"));
        else
            print(QStringLiteral("error ") +
                  (m_files.isEmpty() ? QStringLiteral("no --files") : error));
        return true;
    });
    m_console.add(QStringLiteral("push"), 3, 5,
                  [this](const ServerConsole::Line &line) { return pushCommand(line); });
    m_console.add(QStringLiteral("publish"), 3, 3,
                  [this](const ServerConsole::Line &line) { return publishCommand(line); });
}

bool CatalogServer::commandFrames(const QString &action, const QString &file, const QString &group,
                                  QStringList *frames)
{
    QVector<CatalogPackage> packages;
    QString error;
    if (!CatalogDocument::load(file, &packages, &error)) {
        print(QStringLiteral("error ") + error);
        return false;
    }
    *frames = sealed(framesOf(action, packages), group);
    return true;
}

bool CatalogServer::pushCommand(const ServerConsole::Line &line)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const bool toGroup = line.words.size() == 5;
    if (toGroup && line.words[3] != QLatin1String("group")) {
        print(QStringLiteral("error unknown command: ") + line.text);
        return true;
    }
    // Checked before the file is read: a name no group has sends nothing anywhere.
    if (toGroup && !m_desktopGroups.names().contains(line.words[4])) {
        print(QStringLiteral("error unknown group: ") + line.words[4]);
        return true;
    }
    QStringList frames;
    if (!commandFrames(line.words[1], line.words[2], toGroup ? line.words[4] : QString(), &frames))
        return true;
    int sent = 0;
    if (toGroup) {
        // As the follower's own pushes to a group go; the push file stays "publish"'s.
        sent = groupFrames(line.words[4], frames, {}, nullptr);
    } else {
        // The push file stays "publish"'s.
        sent = pushFrames({}, line.words.size() == 4 ? QStringList{line.words[3]} : pushTargets(),
                          frames, nullptr);
    }
    print(QStringLiteral("ok push %1").arg(sent));
    return true;
}

bool CatalogServer::publishCommand(const ServerConsole::Line &line)
{
    std::lock_guard<std::mutex> guard(m_lock);
    QStringList frames;
    if (!commandFrames(line.words[1], line.words[2], DesktopGroups::Default, &frames))
        return true;
    QString error;
    if (m_catalogFiles.isSet() &&
        m_catalogFiles.appendPush({DesktopGroups::Default}, frames, &error))
        print(QStringLiteral("ok publish %1").arg(frames.size()));
    else
        print(QStringLiteral("error ") +
              (m_files.isEmpty() ? QStringLiteral("no --files") : error));
    return true;
}
