#pragma once

#include <QString>
#include <QStringList>
#include <QVector>

// The groups of desktops the administrator names in the service configuration, each with its
// own catalog and pushes: by address range (CIDR) or by broker account. A desktop in none is in
// "default". A desktop's group comes from who is speaking: the account the broker vouches for,
// or the address the server answers at; never from what a frame names.
class DesktopGroups
{
public:
    static const QString Default;
    static const char *const Syntax;

    // Adds one group from "NAME MEMBER..." (MEMBER: ADDRESS, ADDRESS/BITS or account:ACCOUNT).
    // False with *error set, and nothing added, when it is wrong or names a group again.
    bool add(const QString &definition, QString *error);

    // The group of a desktop. account: the broker's user-id, empty over direct TCP; address: the
    // desktop the answer goes to. An address range matches a group account's desktop only when
    // the account's whole prefix lies in it: such a desktop chooses its own address within it.
    QString of(const QString &account, const QString &address) const;

    // "default" and the groups named, in the order given.
    QStringList names() const;
    bool isEmpty() const { return m_groups.isEmpty(); }

    // A group name as the configuration and the override file take it.
    static bool isName(const QString &text);

private:
    // A group account among more and the groups' members whose prefix holds account's prefix
    // or lies within it; empty when none does.
    QString overlappingAccount(const QString &account, const QStringList &more) const;

    struct Range {
        quint32 network = 0;
        quint32 mask = 0;
    };
    struct Group {
        QString name;
        QVector<Range> ranges;
        QStringList accounts;
    };

    QVector<Group> m_groups;
};
