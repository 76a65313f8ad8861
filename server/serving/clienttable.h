#pragma once

#include <QHash>
#include <QString>
#include <QStringList>

#include <list>

// The desktops the catalog server pushes to over direct TCP, bounded: a desktop may name any
// address in its requests, so the table would otherwise grow with whatever it names. The one
// heard from longest ago leaves first.
class ClientTable
{
public:
    static const int DefaultLimit = 4096;

    explicit ClientTable(int limit = DefaultLimit);

    // Notes address as heard from now. Returns the address it pushed out to make room, or an
    // empty string.
    QString note(const QString &address);
    bool contains(const QString &address) const { return m_places.contains(address); }
    // Oldest first.
    QStringList addresses() const;
    int limit() const { return m_limit; }

private:
    const int m_limit;
    std::list<QString> m_order; // oldest first
    QHash<QString, std::list<QString>::iterator> m_places;
};
