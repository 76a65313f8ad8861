#include "repository/solvrepository.h"

bool SolvRepository::read(const QByteArray &xml, const Reader &reader, const QString &what,
                          QString *error)
{
    m_repo = repo_create(m_pool.get(), what.toUtf8().constData());
    QByteArray data = xml; // fmemopen wants writable bytes
    FILE *in = fmemopen(data.data(), size_t(data.size()), "r");
    const int failed = in ? reader(m_repo, in) : -1;
    if (in)
        std::fclose(in);
    if (failed)
        *error = what + QStringLiteral(": ") + text(pool_errstr(m_pool.get()));
    return !failed;
}
