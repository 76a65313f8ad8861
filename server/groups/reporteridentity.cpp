#include "groups/reporteridentity.h"

ReporterIdentity::ReporterIdentity(const RequestOrigin &origin) : m_origin(origin) {}

QString ReporterIdentity::desktop(const QString &account, const QString &peer,
                                  const QString &claimed, QString *refusal) const
{
    // A report is kept as the desktop a request of the same sender would be answered at.
    return m_origin.answerAddress(account, claimed, peer, refusal);
}
