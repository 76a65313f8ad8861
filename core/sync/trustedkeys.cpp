#include "sync/trustedkeys.h"

#include "sync/framesignature.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// Key files are small; a larger one is no key.
constexpr off_t MaxKeyFile = 16384;

bool isOurs(const struct stat &st)
{
    return st.st_uid == 0 || st.st_uid == geteuid();
}

bool isGuarded(const struct stat &st)
{
    return isOurs(st) && !(st.st_mode & (S_IWGRP | S_IWOTH));
}

// The folder, when it exists, and every folder above it: owned by root or this account and
// writable by nobody else (a sticky folder such as /tmp keeps others from renaming our entries).
bool isChainGuarded(const QString &directory)
{
    QString path = QDir::cleanPath(QDir(directory).absolutePath());
    for (;;) {
        struct stat st;
        if (::lstat(QFile::encodeName(path).constData(), &st) == 0) {
            // A link's own mode means nothing; its owner decides where it points.
            const bool othersWrite = !S_ISLNK(st.st_mode) && (st.st_mode & (S_IWGRP | S_IWOTH)) &&
                                     !(st.st_mode & S_ISVTX);
            if ((!S_ISDIR(st.st_mode) && !S_ISLNK(st.st_mode)) || !isOurs(st) || othersWrite)
                return false;
        } else if (errno != ENOENT) {
            return false;
        }
        if (path == QLatin1String("/"))
            return true;
        path = QFileInfo(path).path();
    }
}

} // namespace

void TrustedKeys::load(const QString &directory)
{
    m_keys.clear();
    m_problems.clear();
    m_folderRefused = !isChainGuarded(directory);
    // Whoever may change the folder or a folder above it could empty it, so such a folder
    // refuses every frame rather than letting them pass unchecked.
    if (m_folderRefused) {
        m_configured = true;
        m_problems << directory + QStringLiteral(": users other than root may change it or a "
                                                 "folder above it; no key is trusted");
        return;
    }
    const QStringList names = QDir(directory).entryList(
        {QStringLiteral("*.pub")}, QDir::Files | QDir::System | QDir::Hidden, QDir::Name);
    m_configured = !names.isEmpty();
    for (const QString &name : names)
        loadFile(directory, name);
}

void TrustedKeys::loadFile(const QString &directory, const QString &name)
{
    const QString path = directory + QLatin1Char('/') + name;
    // Opened without following links and checked as opened, so the file read is the one checked.
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || !isGuarded(st) ||
        st.st_size > MaxKeyFile) {
        if (fd >= 0)
            ::close(fd);
        m_problems << path + QStringLiteral(
                                 ": refused (a link, not a file of root's, or writable by others)");
        return;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    QString error;
    SigningKey key = SigningKey::loadPublic(file.read(MaxKeyFile), &error);
    if (key.isNull()) {
        m_problems << path + QStringLiteral(": ") + error;
        return;
    }
    const QByteArray id = key.id();
    m_keys[id] = std::move(key);
}

const SigningKey *TrustedKeys::find(const QByteArray &id) const
{
    const auto it = m_keys.find(id);
    return it == m_keys.end() ? nullptr : &it->second;
}

TrustedKeys::Seal TrustedKeys::check(const QByteArray &text, FrameSignature *envelope) const
{
    if (!envelope->read(text))
        return Seal::Unsigned;
    const SigningKey *key = find(envelope->keyId());
    if (!key)
        return Seal::UnknownKey;
    return key->verify(envelope->signedBytes(), envelope->signature()) ? Seal::Sound : Seal::Forged;
}

const char *TrustedKeys::reasonOf(Seal seal)
{
    switch (seal) {
    case Seal::Sound:
        return "signed by a trusted key";
    case Seal::Unsigned:
        return "not signed";
    case Seal::UnknownKey:
        return "signed by a key that is not trusted";
    case Seal::Forged:
        return "signature does not match";
    }
    return "";
}
