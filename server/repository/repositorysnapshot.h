#pragma once

#include "repository/repositorychecks.h"

#include <QByteArray>
#include <QHash>
#include <QString>

// One consistent state of a dnf repository (a folder, or an http:// or https:// URL):
// repodata/repomd.xml and the metadata files it names, each read whole into memory and checked
// against the checksum repomd.xml gives it. A repository in the middle of an update (repomd.xml
// naming files not yet written, or files rewritten under an older repomd.xml) fails the check and
// is not read at all. With a key, repomd.xml counts only with a good signature by that key.
class RepositorySnapshot
{
public:
    explicit RepositorySnapshot(const RepositoryChecks &checks = RepositoryChecks())
        : m_checks(checks)
    {
    }

    // Reads repomd.xml and the files of the given types it lists (a type it does not list is
    // simply absent). False with *error set when anything is unreadable or does not match.
    bool read(const QString &directory, const QStringList &types, QString *error);

    // SHA-256 of repomd.xml as read: the repository's identity for change detection.
    QByteArray repomdDigest() const { return m_repomdDigest; }
    // The newest timestamp repomd.xml gives its files (seconds since the epoch).
    qint64 timestamp() const { return m_timestamp; }
    bool has(const QString &type) const { return m_files.contains(type); }
    // The file's bytes as stored (compressed as the repository keeps them).
    QByteArray raw(const QString &type) const { return m_files.value(type); }
    // Its location, for its compression suffix.
    QString location(const QString &type) const { return m_locations.value(type); }
    // The file decompressed; false with *error set when it does not decompress or decompresses
    // to more than limit bytes (-1: the checks' bound for metadata).
    bool uncompressed(const QString &type, QByteArray *data, QString *error,
                      qint64 limit = -1) const;

    // SHA-256 of a repomd.xml as it is now, empty when it cannot be read; with a key, that of
    // its signature follows.
    static QByteArray currentDigest(const QString &directory, const RepositoryChecks &checks);
    static QString repomdPath(const QString &directory);

private:
    const RepositoryChecks m_checks;
    QByteArray m_repomdDigest;
    qint64 m_timestamp = 0;
    QHash<QString, QByteArray> m_files;
    QHash<QString, QString> m_locations;
};
