#include "groups/groupdesktops.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

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
    if (!m_file.isEmpty()) {
        // One line appended, never through a link planted at the name.
        const QByteArray line = account.toUtf8() + ' ' + address.toUtf8() + '\n';
        const int fd = ::open(QFile::encodeName(m_file).constData(),
                              O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd >= 0) {
            (void)!::write(fd, line.constData(), size_t(line.size()));
            ::close(fd);
        }
    }
    return true;
}

bool GroupDesktops::isAdmitted(const QString &account, const QString &address) const
{
    const auto group = m_groups.constFind(account);
    return group != m_groups.cend() && group->addresses.contains(address);
}

bool GroupDesktops::keepIn(const QString &file, QString *error)
{
    m_file = file;
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return true;
        *error = file + QStringLiteral(": ") + QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    QFile input;
    if (!input.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        *error = file + QStringLiteral(": cannot be read");
        return false;
    }
    while (!input.atEnd()) {
        const QList<QByteArray> words = input.readLine(256).trimmed().split(' ');
        if (words.size() != 2)
            continue;
        Group &group = m_groups[QString::fromUtf8(words[0])];
        if (group.addresses.size() < m_limit)
            group.addresses.insert(QString::fromUtf8(words[1]));
    }
    return true;
}
