#include "serving/clienttable.h"

#include <algorithm>

ClientTable::ClientTable(int limit) : m_limit(std::max(1, limit)) {}

QString ClientTable::note(const QString &address)
{
    const auto known = m_places.find(address);
    if (known != m_places.end()) {
        m_order.splice(m_order.end(), m_order, known.value());
        return QString();
    }
    QString dropped;
    if (int(m_order.size()) >= m_limit) {
        dropped = m_order.front();
        m_places.remove(dropped);
        m_order.pop_front();
    }
    m_places.insert(address, m_order.insert(m_order.end(), address));
    return dropped;
}

QStringList ClientTable::addresses() const
{
    return QStringList(m_order.begin(), m_order.end());
}
