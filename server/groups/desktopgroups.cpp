#include "groups/desktopgroups.h"

#include "groups/requestorigin.h"

#include <QRegularExpression>

#include <arpa/inet.h>

const QString DesktopGroups::Default = QStringLiteral("default");

const char *const DesktopGroups::Syntax =
    "  desktop-group = NAME MEMBER...   a group of desktops with its own catalog and pushes;\n"
    "                        MEMBER: an address, ADDRESS/BITS, or account:ACCOUNT (the broker\n"
    "                        account, e.g. account:desk-10.1.2.3 or account:group-10.1.3).\n"
    "                        One line per group; the first that matches a desktop wins; a\n"
    "                        desktop in none is in \"default\". Overrides name a group with\n"
    "                        \"for NAME\".";

namespace
{

const QString AccountMember = QStringLiteral("account:");

// A dotted IPv4 address in host order; false when text is none.
bool parseAddress(const QString &text, quint32 *host)
{
    in_addr addr{};
    if (inet_pton(AF_INET, text.toLatin1().constData(), &addr) != 1)
        return false;
    *host = ntohl(addr.s_addr);
    return true;
}

quint32 maskOf(int bits)
{
    return bits == 0 ? 0 : ~quint32(0) << (32 - bits);
}

} // namespace

bool DesktopGroups::isName(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_.-]{0,63}$"));
    return name.match(text).hasMatch();
}

bool DesktopGroups::add(const QString &definition, QString *error)
{
    const QStringList words = definition.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    Group group;
    group.name = words.value(0);
    if (!isName(group.name) || group.name == Default) {
        *error = QStringLiteral("desktop-group: \"%1\" is not a group name (letters, digits, "
                                "_ . -; not \"default\")")
                     .arg(group.name);
        return false;
    }
    for (const Group &known : m_groups)
        if (known.name == group.name) {
            *error = QStringLiteral("desktop-group: %1 is named twice").arg(group.name);
            return false;
        }
    if (words.size() < 2) {
        *error = QStringLiteral("desktop-group %1: no member").arg(group.name);
        return false;
    }
    for (const QString &member : words.mid(1)) {
        if (member.startsWith(AccountMember) && member.size() > AccountMember.size()) {
            const QString account = member.mid(AccountMember.size());
            const QString overlapped = overlappingAccount(account, group.accounts);
            if (!overlapped.isEmpty()) {
                *error = QStringLiteral("desktop-group %1: account:%2 overlaps account:%3 (one "
                                        "account would speak for the other's desktops)")
                             .arg(group.name, account, overlapped);
                return false;
            }
            group.accounts << account;
            continue;
        }
        const QString address = member.section(QLatin1Char('/'), 0, 0);
        const QString bitsText = member.contains(QLatin1Char('/'))
                                     ? member.section(QLatin1Char('/'), 1)
                                     : QStringLiteral("32");
        bool ok = false;
        const int bits = bitsText.toInt(&ok);
        Range range;
        if (!ok || bits < 0 || bits > 32 || bitsText != QString::number(bits) ||
            !parseAddress(address, &range.network)) {
            *error = QStringLiteral("desktop-group %1: \"%2\" is neither ADDRESS[/BITS] nor "
                                    "account:ACCOUNT")
                         .arg(group.name, member);
            return false;
        }
        range.mask = maskOf(bits);
        if ((range.network & ~range.mask) != 0) {
            *error = QStringLiteral("desktop-group %1: %2 has bits set beyond /%3")
                         .arg(group.name, member)
                         .arg(bits);
            return false;
        }
        group.ranges << range;
    }
    m_groups << group;
    return true;
}

QString DesktopGroups::overlappingAccount(const QString &account, const QStringList &more) const
{
    const QString prefix = RequestOrigin::groupPrefix(account);
    if (prefix.isEmpty())
        return QString();
    QStringList known = more;
    for (const Group &group : m_groups)
        known << group.accounts;
    for (const QString &other : known) {
        const QString otherPrefix = RequestOrigin::groupPrefix(other);
        if (!otherPrefix.isEmpty() &&
            (otherPrefix == prefix || prefix.startsWith(otherPrefix + QLatin1Char('.')) ||
             otherPrefix.startsWith(prefix + QLatin1Char('.'))))
            return other;
    }
    return QString();
}

QString DesktopGroups::of(const QString &account, const QString &address) const
{
    // The range the speaker is vouched for: one address, or a group account's whole prefix.
    Range vouched;
    bool placed = false;
    const QString prefix = RequestOrigin::groupPrefix(account);
    if (!prefix.isEmpty()) {
        const int parts = prefix.count(QLatin1Char('.')) + 1;
        QString padded = prefix;
        for (int i = parts; i < 4; ++i)
            padded += QStringLiteral(".0");
        placed = parseAddress(padded, &vouched.network);
        vouched.mask = maskOf(8 * parts);
    } else {
        placed = parseAddress(address, &vouched.network);
        vouched.mask = ~quint32(0);
    }
    for (const Group &group : m_groups) {
        if (!account.isEmpty() && group.accounts.contains(account))
            return group.name;
        for (const Range &range : group.ranges)
            // Inside: the range is no narrower than the vouched one and holds its start.
            if (placed && (range.mask & vouched.mask) == range.mask &&
                (vouched.network & range.mask) == range.network)
                return group.name;
    }
    return Default;
}

QStringList DesktopGroups::names() const
{
    QStringList names{Default};
    for (const Group &group : m_groups)
        names << group.name;
    return names;
}
