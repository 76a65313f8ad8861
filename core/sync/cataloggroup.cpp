#include "sync/cataloggroup.h"

#include "records/clientconfig.h"
#include "records/paths.h"
#include "sync/framesignature.h"

#include <QByteArray>
#include <QFile>
#include <QList>

#include <fcntl.h>
#include <unistd.h>

namespace
{

const QString Default = QStringLiteral("default");

struct Learned {
    QString group;
    quint64 sequence = 0;
};

// "NAME SEQUENCE"; nothing when the file is missing, a link or not of that shape.
Learned readLearned()
{
    const QByteArray path = QFile::encodeName(Paths::catalogGroupFile());
    const int fd = ::open(path.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return {};
    char text[128] = {};
    const ssize_t length = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    const QList<QByteArray> words = QByteArray(text, int(qMax<ssize_t>(length, 0))).split(' ');
    Learned learned;
    bool ok = false;
    if (words.size() == 2) {
        learned.group = QString::fromLatin1(words[0]);
        learned.sequence = words[1].trimmed().toULongLong(&ok);
    }
    return ok && FrameSignature::isGroupName(learned.group) ? learned : Learned();
}

} // namespace

namespace CatalogGroup
{

QString current()
{
    const QString learned = readLearned().group;
    if (!learned.isEmpty())
        return learned;
    const QString configured = ClientConfig::group();
    return FrameSignature::isGroupName(configured) ? configured : Default;
}

bool learn(const QString &group, quint64 sequence)
{
    const Learned before = readLearned();
    if (!FrameSignature::isGroupName(group) || sequence <= before.sequence)
        return false;
    // Written beside and renamed over, never through a link planted at either name.
    const QByteArray path = QFile::encodeName(Paths::catalogGroupFile());
    const QByteArray next = path + ".new";
    ::unlink(next.constData());
    const int fd =
        ::open(next.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const QByteArray text = group.toLatin1() + ' ' + QByteArray::number(sequence) + '\n';
    const bool written = ::write(fd, text.constData(), size_t(text.size())) == text.size();
    ::close(fd);
    return written && ::rename(next.constData(), path.constData()) == 0;
}

QString folder(const QString &group)
{
    return group == Default || !FrameSignature::isGroupName(group)
               ? QStringLiteral(".cv_data/")
               : QStringLiteral(".cv_data/groups/") + group + QLatin1Char('/');
}

} // namespace CatalogGroup
