#include "records/version.h"

#include <QByteArray>
#include <QStringList>

#include <cstdlib>

int IsNumeric(const char *text)
{
    for (const char *p = text; *p; ++p)
        if (*p < '0' || *p > '9')
            return 0;
    return 1;
}

int compareversion(const QString &a, const QString &b)
{
    const QStringList partsA = a.split(QLatin1Char('.'));
    const QStringList partsB = b.split(QLatin1Char('.'));
    if (partsA.isEmpty())
        return 0;
    if (partsB.isEmpty())
        return -1;

    for (int i = 0;; ++i) {
        const QByteArray partA = partsA.at(i).toUtf8();
        const QByteArray partB = partsB.at(i).toUtf8();
        if (IsNumeric(partA.constData())) {
            const int numberA = static_cast<int>(std::strtol(partA.constData(), nullptr, 10));
            const int numberB = static_cast<int>(std::strtol(partB.constData(), nullptr, 10));
            if (numberA > numberB)
                return -1;
            if (numberA < numberB)
                return 1;
        } else {
            const int order = qstrcmp(partA, partB);
            if (order > 0)
                return -1;
            if (order < 0)
                return 1;
        }
        if (i + 1 >= partsA.size())
            return 0;
        if (i + 1 >= partsB.size())
            return -1;
    }
}

RpmInfo splitPackageString(const QString &package)
{
    const QStringList parts = package.split(QLatin1Char('-'));
    const int n = parts.size();
    RpmInfo info;
    if (n >= 2) {
        info.m_release = parts.at(n - 1);
        info.m_version = parts.at(n - 2);
    }
    if (n >= 3)
        info.m_name = parts.mid(0, n - 2).join(QLatin1Char('-'));
    return info;
}
