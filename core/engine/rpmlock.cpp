#include "engine/rpmlock.h"

#include "records/paths.h"

#include <QDebug>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

QRecursiveMutex RpmLock::m_mutex;
QAtomicInt RpmLock::m_waiting;
int RpmLock::m_depth = 0;
int RpmLock::m_file = -1;

namespace
{

// The lock file, opened without following a link and locked; -1 when it cannot be (a store
// whose db folder is missing still runs, as it did before the file lock).
int lockFile()
{
    const QByteArray path = QFile::encodeName(Paths::rpmLockFile());
    const int file = ::open(path.constData(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (file < 0) {
        qWarning().noquote() << QStringLiteral("rpm lock file: ") + Paths::rpmLockFile() +
                                    QStringLiteral(": ") + QString::fromLocal8Bit(strerror(errno));
        return -1;
    }
    // Made by another tool with a wider mode: only this account may hold it open for writing.
    ::fchmod(file, 0600);
    int rc;
    while ((rc = ::flock(file, LOCK_EX)) < 0 && errno == EINTR) {
    }
    if (rc < 0) {
        ::close(file);
        return -1;
    }
    return file;
}

} // namespace

RpmLock::RpmLock()
{
    acquire();
}

RpmLock::~RpmLock()
{
    release();
}

void RpmLock::acquire()
{
    if (m_mutex.tryLock()) {
        locked();
        return;
    }
    m_waiting.ref();
    m_mutex.lock();
    m_waiting.deref();
    locked();
}

void RpmLock::locked()
{
    if (m_depth++ == 0)
        m_file = lockFile();
}

void RpmLock::release()
{
    if (--m_depth == 0 && m_file >= 0) {
        ::close(m_file); // drops the flock
        m_file = -1;
    }
    m_mutex.unlock();
}

int RpmLock::waiting()
{
    return m_waiting.loadAcquire();
}
