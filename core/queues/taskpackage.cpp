#include "queues/taskpackage.h"

#include "records/version.h"

#include <QStringList>

TaskPackage::TaskPackage(const QString &rpmname)
{
    const RpmInfo parts = splitPackageString(rpmname);
    name = parts.m_name;
    version = parts.m_version;
    release = parts.m_release;
    const QStringList fields = rpmname.split(QLatin1Char('-'));
    nameVersion = fields.mid(0, fields.size() - 1).join(QLatin1Char('-'));
}
