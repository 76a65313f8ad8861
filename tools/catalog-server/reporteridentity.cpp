#include "reporteridentity.h"

ReporterIdentity::ReporterIdentity(const RequestOrigin &origin) : m_origin(origin) {}

QString ReporterIdentity::desktop(const QString &account, const QString &peer,
                                  const QString &claimed, QString *refusal) const
{
    if (account.isEmpty() && !peer.isEmpty())
        return peer;
    return m_origin.answerAddress(account, claimed, refusal);
}
