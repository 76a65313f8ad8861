#pragma once

#include "storage/sqlconnection.h"

#include <QString>

// The agent's own SQLite file (not the store's): the sequence of the last plan it acted on
// and, per item, what became of it, so a restart neither repeats finished work nor forgets a
// plan.
class AgentDatabase
{
public:
    enum class ItemState { Pending, Done, Deferred, Failed };

    bool open(const QString &path);
    quint64 lastSequence();
    bool setLastSequence(quint64 sequence);
    // Pending when the item was never seen.
    ItemState state(const QString &key);
    bool setState(const QString &key, ItemState state, qint64 now);
    // Whether the user was told of the item's coming work already (noticeKind: "planned",
    // "soon", "deferred DATE"), or the deferral reported ("reported deferral DATE"); marks it.
    bool tellOnce(const QString &key, const QString &noticeKind);
    // When a look first found the item past its deadline (now, the first time): its short
    // notice runs from then, across restarts.
    qint64 lateSince(const QString &key, qint64 now);

private:
    SqlConnection m_db;
};
