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
    // Lines carry desktops' text: one line stays one entry, whatever it holds ("&#10;<2>"
    // would start a journal entry of its own, at another priority).
    QString flat = line;
    for (QChar &c : flat)
        if (c.category() == QChar::Other_Control)
            c = QLatin1Char(' ');
    ServerConsole::heard(flat);
    std::lock_guard<std::mutex> guard(m_outputLock);
    std::fprintf(stdout, "%s\n", flat.toUtf8().constData());
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
    }
    return sent;
}

int CatalogServer::pushEverywhere(const QString &action, const QVector<CatalogPackage> &packages,
                                  QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    // Alike for every group: the frames name none, and go into every group's push file.
    const QStringList frames = sealed(framesOf(action, packages));
    notePushed(m_desktopGroups.names(), frames);
    return pushFrames(fileGroups(), pushTargets(), frames, error);
}

int CatalogServer::pushToGroup(const QString &group, const QString &action,
                               const QVector<CatalogPackage> &packages, QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    const QStringList frames = sealed(framesOf(action, packages), group);
    notePushed({group}, frames);
    return groupFrames(group, frames, m_catalogFiles.isSet() ? QStringList{group} : QStringList(),
                       error);
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
        return sent;
    }
    // One at a time, also through the broker: the broadcast reaches every group.
    QStringList targets;
    for (const QString &client : m_clients.addresses())
        if (m_clientGroups.value(client) == group)
            targets << client;
    return pushFrames(fileGroups, targets, frames, error);
}

void CatalogServer::notePushed(const QStringList &groups, const QStringList &frames)
{
    FrameSignature envelope;
    if (frames.isEmpty() || !envelope.read(frames.last().toUtf8()))
        return;
    for (const QString &group : groups)
        m_lastPushed[group] = envelope.sequence();
}

QString CatalogServer::heartbeatFor(const QString &group)
{
    // Names the last push the group was sent: a store without it lost it on the way.
    return m_signer.seal(
        QStringLiteral("<frame action='heartbeat' last='%1'/>").arg(m_lastPushed.value(group)),
        group);
}

int CatalogServer::sendHeartbeat(QString *error)
{
    std::lock_guard<std::mutex> guard(m_lock);
    QHash<QString, QString> beats;
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    for (const QString &group : m_desktopGroups.names()) {
        beats.insert(group, heartbeatFor(group));
        if (m_catalogFiles.isSet() &&
            !m_catalogFiles.replaceHeartbeat({group}, beats[group], now, error))
            return -1;
    }
    int sent = 0;
    const char *everyone = vqs_broadcast_address();
    if (everyone && m_groupStreams) {
        for (auto it = beats.cbegin(); it != beats.cend(); ++it)
            sent += vqs_broker_push_group(groupKey(it.key()).constData(),
                                          it->toUtf8().constData()) == 0;
    } else if (everyone) {
        // One stream for all: every group's beat, each store takes its own group's.
        for (const QString &beat : qAsConst(beats))
            sent += send(QString::fromLatin1(everyone), beat) ? 1 : 0;
    } else {
        for (const QString &client : m_clients.addresses())
            sent += send(client, beats.value(m_clientGroups.value(client, DesktopGroups::Default),
                                             beats[DesktopGroups::Default]))
                        ? 1
                        : 0;
    }
    return sent;
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
        notePushed({line.words[4]}, frames);
        sent = groupFrames(line.words[4], frames, {}, nullptr);
    } else {
        if (line.words.size() == 3)
            notePushed(m_desktopGroups.names(), frames);
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
