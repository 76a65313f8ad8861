#pragma once

#include <QHash>
#include <QSet>
#include <QString>

#include <chrono>

// The desktops of each group account the server has made a queue for, bounded: a group's
// password sits on every desktop of the group, and the queue of any address within its prefix
// is one request away. At most `limit` addresses per account, new ones at the pace of one per
// `interval` (Burst of them at once, so that a room of desktops starting together is served).
class GroupDesktops
{
public:
    static const int DefaultLimit = 1024;
    static constexpr double DefaultIntervalSeconds = 0.2;
    static const int Burst = 32;

    GroupDesktops(int limit = DefaultLimit, double intervalSeconds = DefaultIntervalSeconds);

    // True when the queue of address may be made (or was already) for account; false with
    // *refusal saying why not.
    bool admit(const QString &account, const QString &address, QString *refusal);
    // True when address was admitted for account: a group account speaks for no other.
    bool isAdmitted(const QString &account, const QString &address) const;
    // Keeps the addresses admitted in file ("ACCOUNT ADDRESS" a line) and reads those kept
    // before, so that a restart neither forgets whom an account speaks for nor gives it a
    // fresh bound. False with *error set when the file cannot be read.
    bool keepIn(const QString &file, QString *error);

private:
    using Clock = std::chrono::steady_clock;
    struct Group {
        QSet<QString> addresses;
        double credit = Burst; // new addresses it may add now
        Clock::time_point last = Clock::now();
    };

    const int m_limit;
    const double m_interval;
    QString m_file;
    QHash<QString, Group> m_groups;
};
