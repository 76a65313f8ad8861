#include "groups/requestorigin.h"

#include <QRegularExpression>

#include <arpa/inet.h>

namespace
{

const QString DesktopAccount = QStringLiteral("desk-");
const QString GroupAccount = QStringLiteral("group-");

} // namespace

RequestOrigin::RequestOrigin(const QString &broadcast, const QString &own)
    : m_broadcast(broadcast), m_own(own)
{
}

bool RequestOrigin::isDesktopAddress(const QString &text) const
{
    in_addr addr{};
    char canonical[INET_ADDRSTRLEN];
    // One spelling per address: "010.1.2.3" is not taken for another desktop's.
    if (inet_pton(AF_INET, text.toLatin1().constData(), &addr) != 1 ||
        !inet_ntop(AF_INET, &addr, canonical, sizeof canonical) || text != QLatin1String(canonical))
        return false;
    const quint32 host = ntohl(addr.s_addr);
    return host != INADDR_ANY && host != INADDR_BROADCAST && !IN_MULTICAST(host) &&
           text != m_broadcast && text != m_own;
}

QString RequestOrigin::groupPrefix(const QString &account)
{
    static const QRegularExpression prefix(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){0,2}$"));
    if (!account.startsWith(GroupAccount))
        return QString();
    const QString p = account.mid(GroupAccount.size());
    return prefix.match(p).hasMatch() ? p : QString();
}

QString RequestOrigin::answerAddress(const QString &account, const QString &frameClient,
                                     const QString &peer, QString *refusal) const
{
    if (m_broadcast.isEmpty()) {
        // What the frame names is a claim; the connection's address has answered a handshake.
        if (isDesktopAddress(peer))
            return peer;
        *refusal = QStringLiteral("the connection from \"%1\" is not one desktop's").arg(peer);
        return QString();
    }
    if (account.isEmpty()) {
        *refusal = QStringLiteral("the message names no account (user-id)");
        return QString();
    }
    if (account.startsWith(DesktopAccount) && isDesktopAddress(account.mid(DesktopAccount.size())))
        return account.mid(DesktopAccount.size());
    const QString group = groupPrefix(account);
    if (group.isEmpty()) {
        *refusal = QStringLiteral("account %1 is not a desktop's").arg(account);
        return QString();
    }
    if (isDesktopAddress(frameClient) && frameClient.startsWith(group + QLatin1Char('.')))
        return frameClient;
    *refusal = QStringLiteral("account %1 may not name \"%2\"").arg(account, frameClient);
    return QString();
}
