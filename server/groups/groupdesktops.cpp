#include "groups/groupdesktops.h"

#include <algorithm>

GroupDesktops::GroupDesktops(int limit, double intervalSeconds)
    : m_limit(std::max(0, limit)), m_interval(std::max(0.0, intervalSeconds))
{
}

bool GroupDesktops::admit(const QString &account, const QString &address, QString *refusal)
{
    Group &group = m_groups[account];
    if (group.addresses.contains(address))
        return true;
    if (group.addresses.size() >= m_limit) {
        *refusal = QStringLiteral("account %1 has %2 desktops already, no queue for %3")
                       .arg(account)
                       .arg(m_limit)
                       .arg(address);
        return false;
    }
    const Clock::time_point now = Clock::now();
    const double rested = std::chrono::duration<double>(now - group.last).count();
    group.last = now;
    group.credit =
        m_interval <= 0 ? Burst : std::min<double>(Burst, group.credit + rested / m_interval);
    if (group.credit < 1) {
        *refusal = QStringLiteral("account %1 adds desktops too fast (one per %2 s), no queue "
                                  "for %3")
                       .arg(account)
                       .arg(m_interval)
                       .arg(address);
        return false;
    }
    group.credit -= 1;
    group.addresses.insert(address);
    return true;
}
