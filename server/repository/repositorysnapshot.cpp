#include "repository/repositorysnapshot.h"

#include "repository/repositorysignature.h"

#include <QCryptographicHash>
#include <QDeadlineTimer>
#include <QFile>
#include <QProcess>
#include <QStringList>

extern "C" {
#include <solv/chksum.h>
#include <solv/dataiterator.h>
#include <solv/knownid.h>
#include <solv/pool.h>
#include <solv/repo.h>
#include <solv/repo_repomdxml.h>
#include <solv/solv_xfopen.h>
}

#include <cstdio>
#include <memory>
#include <sys/mman.h>
#include <unistd.h>

namespace
{

bool isUrl(const QString &location)
{
    return location.startsWith(QLatin1String("http://")) ||
           location.startsWith(QLatin1String("https://"));
}

// A file of the repository, from the disk or over HTTP (wget, as the stores fetch), of at
// most maxBytes: a larger one is not read on.
bool readWhole(const QString &path, qint64 maxBytes, QByteArray *data, QString *error)
{
    const auto tooLarge = [&]() {
        *error = path + QStringLiteral(": larger than %1 bytes").arg(maxBytes);
        return false;
    };
    data->clear();
    if (isUrl(path)) {
        QProcess wget;
        wget.start(QStringLiteral("wget"),
                   {QStringLiteral("-q"), QStringLiteral("--timeout=30"), QStringLiteral("-O"),
                    QStringLiteral("-"), QStringLiteral("--"), path});
        QDeadlineTimer deadline(120000);
        while (wget.waitForReadyRead(int(qMax<qint64>(0, deadline.remainingTime())))) {
            *data += wget.readAllStandardOutput();
            if (data->size() > maxBytes) {
                wget.kill();
                wget.waitForFinished();
                return tooLarge();
            }
        }
        const bool done = wget.state() == QProcess::NotRunning ||
                          wget.waitForFinished(int(qMax<qint64>(0, deadline.remainingTime())));
        *data += wget.readAllStandardOutput();
        if (data->size() > maxBytes)
            return tooLarge();
        if (!done || wget.exitStatus() != QProcess::NormalExit || wget.exitCode() != 0) {
            *error =
                path + QStringLiteral(": cannot be fetched (wget exit %1)").arg(wget.exitCode());
            return false;
        }
        return true;
    }
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    // In pieces: a file that grows while it is read is not read on either.
    for (QByteArray piece; !(piece = file.read(1 << 16)).isEmpty();) {
        *data += piece;
        if (data->size() > maxBytes)
            return tooLarge();
    }
    return true;
}

// A location from repomd.xml stays inside the repository: no absolute path, no "..".
bool safeLocation(const QString &location)
{
    if (location.isEmpty() || location.startsWith(QLatin1Char('/')))
        return false;
    for (const QString &part : location.split(QLatin1Char('/')))
        if (part.isEmpty() || part == QLatin1String(".."))
            return false;
    return true;
}

QByteArray digestOf(const QString &path, qint64 maxBytes)
{
    QByteArray data;
    QString error;
    if (!readWhole(path, maxBytes, &data, &error))
        return QByteArray();
    return QCryptographicHash::hash(data, QCryptographicHash::Sha256);
}

struct PoolDeleter {
    void operator()(Pool *pool) const { pool_free(pool); }
};

} // namespace

QString RepositorySnapshot::repomdPath(const QString &directory)
{
    return directory + QStringLiteral("/repodata/repomd.xml");
}

QByteArray RepositorySnapshot::currentDigest(const QString &directory,
                                             const RepositoryChecks &checks)
{
    QByteArray digest = digestOf(repomdPath(directory), checks.maxRepomdBytes);
    if (checks.signature)
        digest += digestOf(RepositorySignature::signaturePath(repomdPath(directory)),
                           checks.maxRepomdBytes);
    return digest;
}

bool RepositorySnapshot::read(const QString &directory, const QStringList &types, QString *error)
{
    m_files.clear();
    m_locations.clear();
    QByteArray repomd;
    if (!readWhole(repomdPath(directory), m_checks.maxRepomdBytes, &repomd, error))
        return false;
    // Checked before anything it names is read: these very bytes are the ones then used.
    if (m_checks.signature) {
        const QString signaturePath = RepositorySignature::signaturePath(repomdPath(directory));
        QByteArray signature;
        QString why;
        if (!readWhole(signaturePath, m_checks.maxRepomdBytes, &signature, error))
            return false;
        if (!m_checks.signature->verify(repomd, signature, &why)) {
            *error = signaturePath + QStringLiteral(": ") + why;
            return false;
        }
    }
    m_repomdDigest = QCryptographicHash::hash(repomd, QCryptographicHash::Sha256);

    std::unique_ptr<Pool, PoolDeleter> pool(pool_create());
    Repo *repo = repo_create(pool.get(), "repomd");
    FILE *in = fmemopen(repomd.data(), size_t(repomd.size()), "r");
    const int failed = in ? repo_add_repomdxml(repo, in, 0) : -1;
    if (in)
        std::fclose(in);
    if (failed) {
        *error = repomdPath(directory) + QStringLiteral(": not a repomd.xml: ") +
                 QString::fromUtf8(pool_errstr(pool.get()));
        return false;
    }
    m_timestamp = qint64(repo_lookup_num(repo, SOLVID_META, REPOSITORY_TIMESTAMP, 0));
    if (m_timestamp < m_checks.notBefore) {
        *error = repomdPath(directory) +
                 QStringLiteral(": older than the repository already published (%1 < %2); "
                                "to go back to it, stop the server and remove its "
                                "repository-state file")
                     .arg(m_timestamp)
                     .arg(m_checks.notBefore);
        return false;
    }

    for (const QString &type : types) {
        Dataiterator di;
        const QByteArray wanted = type.toUtf8();
        dataiterator_init(&di, pool.get(), repo, SOLVID_META, REPOSITORY_REPOMD_TYPE,
                          wanted.constData(), SEARCH_STRING);
        dataiterator_prepend_keyname(&di, REPOSITORY_REPOMD);
        QString location;
        Id checksumType = 0;
        QByteArray checksum;
        if (dataiterator_step(&di)) {
            dataiterator_setpos_parent(&di);
            location = QString::fromUtf8(
                pool_lookup_str(pool.get(), SOLVID_POS, REPOSITORY_REPOMD_LOCATION));
            const unsigned char *bin = pool_lookup_bin_checksum(
                pool.get(), SOLVID_POS, REPOSITORY_REPOMD_CHECKSUM, &checksumType);
            if (bin)
                checksum =
                    QByteArray(reinterpret_cast<const char *>(bin), solv_chksum_len(checksumType));
        }
        dataiterator_free(&di);
        if (location.isEmpty())
            continue;
        if (!safeLocation(location) || checksum.isEmpty()) {
            *error = repomdPath(directory) + QStringLiteral(": bad entry for ") + type;
            return false;
        }
        QByteArray data;
        if (!readWhole(directory + QLatin1Char('/') + location, m_checks.maxFileBytes, &data,
                       error))
            return false;
        Chksum *sum = solv_chksum_create(checksumType);
        solv_chksum_add(sum, data.constData(), data.size());
        int sumLength = 0;
        const unsigned char *got = solv_chksum_get(sum, &sumLength);
        const bool matches = QByteArray(reinterpret_cast<const char *>(got), sumLength) == checksum;
        solv_chksum_free(sum, nullptr);
        if (!matches) {
            *error = directory + QLatin1Char('/') + location +
                     QStringLiteral(": checksum differs from repomd.xml (update under way?)");
            return false;
        }
        m_files.insert(type, data);
        m_locations.insert(type, location);
    }
    // A rewrite of repomd.xml while the files were read: they may belong to either state.
    if (digestOf(repomdPath(directory), m_checks.maxRepomdBytes) != m_repomdDigest) {
        *error = repomdPath(directory) + QStringLiteral(": changed while it was read");
        return false;
    }
    return true;
}

bool RepositorySnapshot::uncompressed(const QString &type, QByteArray *data, QString *error,
                                      qint64 limit) const
{
    // libsolv decompresses only from a descriptor: the checked bytes go through a memory file.
    const QByteArray raw = m_files.value(type);
    const int fd = memfd_create("repodata", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, raw.constData(), size_t(raw.size())) != raw.size() ||
        ::lseek(fd, 0, SEEK_SET) != 0) {
        if (fd >= 0)
            ::close(fd);
        *error = location(type) + QStringLiteral(": no memory file");
        return false;
    }
    FILE *in = solv_xfopen_fd(location(type).toUtf8().constData(), fd, "r");
    if (!in) {
        ::close(fd);
        *error = location(type) + QStringLiteral(": cannot be opened");
        return false;
    }
    data->clear();
    char chunk[65536];
    size_t got;
    // Read on only up to the bound: a few kilobytes may decompress to more than memory holds.
    const qint64 bound = limit >= 0 ? limit : m_checks.maxUnpackedBytes;
    bool over = false;
    while (!over && (got = std::fread(chunk, 1, sizeof chunk, in)) > 0) {
        over = data->size() + qint64(got) > bound;
        if (!over)
            data->append(chunk, int(got));
    }
    const bool ok = !over && !std::ferror(in);
    std::fclose(in);
    if (over) {
        data->clear();
        *error = location(type) + QStringLiteral(": decompresses to more than %1 bytes").arg(bound);
    } else if (!ok) {
        *error = location(type) + QStringLiteral(": does not decompress");
    }
    return ok;
}
