#pragma once

#include <QtGlobal>

class RepositorySignature;

// Bytes of an icon archive once decompressed (over: the repository is not read) and of each
// icon in it (over: that icon is left out with a note).
struct IconBounds {
    qint64 archive = qint64(128) << 20;
    qint64 member = qint64(1) << 20;
};

// What the catalog server requires of a repository before it believes it. Over a bound the
// repository is not read and the last catalog stays.
struct RepositoryChecks {
    // The key repomd.xml must be signed by; null: taken unsigned (a local folder, or
    // allow-unsigned-repository).
    const RepositorySignature *signature = nullptr;
    qint64 maxRepomdBytes = 1 << 20;             // repomd.xml (and its signature)
    qint64 maxFileBytes = qint64(128) << 20;     // each metadata file as fetched
    qint64 maxUnpackedBytes = qint64(512) << 20; // each metadata file decompressed
    int maxPackages = 50000;                     // packages in the catalog
    int maxAdvisories = 100000;                  // advisories in updateinfo
    IconBounds icons;
    // The newest timestamp repomd.xml gives its files must not be older than this: a signed
    // repository is not taken back to an older state someone kept and serves again.
    qint64 notBefore = 0;
};
