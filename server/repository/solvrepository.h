#pragma once

#include <QByteArray>
#include <QString>

#include <functional>
#include <memory>

extern "C" {
#include <solv/pool.h>
#include <solv/repo.h>
}

#include <cstdio>

// One libsolv pool holding one repository read from metadata in memory (primary, updateinfo).
class SolvRepository
{
public:
    // libsolv's reader of one kind of metadata, e.g. repo_add_rpmmd; non-zero on failure.
    using Reader = std::function<int(Repo *, FILE *)>;

    // False with *error "WHAT: libsolv's reason" when the metadata cannot be read.
    bool read(const QByteArray &xml, const Reader &reader, const QString &what, QString *error);

    Pool *pool() const { return m_pool.get(); }
    Repo *repo() const { return m_repo; }

    // A libsolv string (null for none) as text.
    static QString text(const char *value) { return QString::fromUtf8(value ? value : ""); }

private:
    struct PoolDeleter {
        void operator()(Pool *pool) const { pool_free(pool); }
    };
    std::unique_ptr<Pool, PoolDeleter> m_pool{pool_create()};
    Repo *m_repo = nullptr;
};
