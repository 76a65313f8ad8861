#include "sync/framesequence.h"

#include <QByteArray>
#include <QFile>

#include <fcntl.h>
#include <unistd.h>

FrameSequence::FrameSequence(const QString &path, bool durable) : m_path(path), m_durable(durable)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    char digits[32] = {};
    const ssize_t length = ::read(fd, digits, sizeof digits - 1);
    ::close(fd);
    if (length > 0)
        m_last = QByteArray(digits, int(length)).trimmed().toULongLong();
}

bool FrameSequence::advance(quint64 sequence)
{
    m_last = sequence;
    // Written beside and renamed over: a store stopped mid-write keeps the previous value.
    const QString next = m_path + QStringLiteral(".new");
    const QByteArray nextName = QFile::encodeName(next);
    ::unlink(nextName.constData());
    const int fd =
        ::open(nextName.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const QByteArray text = QByteArray::number(sequence) + '\n';
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size() &&
                         (!m_durable || ::fsync(fd) == 0);
    ::close(fd);
    return written && ::rename(nextName.constData(), QFile::encodeName(m_path).constData()) == 0;
}
