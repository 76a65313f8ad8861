#include "sync/packageadvisories.h"

#include "records/rpmversionorder.h"

#include <QRegularExpression>

#include <algorithm>

const char *const PackageAdvisories::Attribute = "advisories";

namespace
{

const QString Security = QStringLiteral("security");

const QRegularExpression TypeWord(QStringLiteral("^[a-z]{0,16}$"));
const QRegularExpression
    VersionRelease(QStringLiteral("^[A-Za-z0-9._+~^]{1,64}-[A-Za-z0-9._+~^]{1,64}$"));

} // namespace

const QStringList &PackageAdvisories::severities()
{
    static const QStringList list{QStringLiteral("critical"), QStringLiteral("important"),
                                  QStringLiteral("moderate"), QStringLiteral("low")};
    return list;
}

bool PackageAdvisories::isId(const QString &text)
{
    static const QRegularExpression id(
        QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._:-]{0,%1}$").arg(MaxIdLength - 1));
    return id.match(text).hasMatch();
}

bool PackageAdvisories::isCve(const QString &text)
{
    static const QRegularExpression cve(QStringLiteral("^CVE-[0-9]{4}-[0-9]{4,12}$"));
    return cve.match(text).hasMatch();
}

QString PackageAdvisories::severityOf(const QString &text)
{
    const QString word = text.trimmed().toLower();
    return severities().contains(word) ? word : QString();
}

int PackageAdvisories::rank(const QString &severity)
{
    const int index = int(severities().indexOf(severity));
    return index < 0 ? 0 : int(severities().size()) - index;
}

PackageAdvisories::Advisory PackageAdvisories::checked(const Advisory &advisory, bool *ok)
{
    Advisory out;
    *ok = isId(advisory.id) && TypeWord.match(advisory.type).hasMatch() &&
          (advisory.severity.isEmpty() || severities().contains(advisory.severity)) &&
          VersionRelease.match(advisory.fixedIn).hasMatch();
    if (!*ok)
        return out;
    out = advisory;
    out.cves.clear();
    for (const QString &cve : advisory.cves)
        if (isCve(cve) && !out.cves.contains(cve) && out.cves.size() < MaxCves)
            out.cves << cve;
    return out;
}

QString PackageAdvisories::compose(const QVector<Advisory> &advisories)
{
    QStringList tokens;
    for (const Advisory &advisory : advisories) {
        bool ok = false;
        const Advisory clean = checked(advisory, &ok);
        if (!ok)
            continue;
        tokens << (QStringList{clean.id, clean.type, clean.severity, clean.fixedIn} + clean.cves)
                      .join(QLatin1Char(','));
        if (tokens.size() == MaxAdvisories)
            break;
    }
    return tokens.join(QLatin1Char(' '));
}

QVector<PackageAdvisories::Advisory> PackageAdvisories::parse(const QString &text)
{
    QVector<Advisory> advisories;
    // A token longer than any composed one is not split at all.
    const int longest = MaxIdLength + 16 + 10 + 130 + MaxCves * 20 + 4 + MaxCves;
    for (const QString &token : text.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (advisories.size() == MaxAdvisories)
            break;
        if (token.size() > longest)
            continue;
        const QStringList fields = token.split(QLatin1Char(','));
        if (fields.size() < 4)
            continue;
        bool ok = false;
        const Advisory advisory =
            checked({fields[0], fields[1], fields[2], fields[3], fields.mid(4)}, &ok);
        if (ok)
            advisories << advisory;
    }
    return advisories;
}

QString PackageAdvisories::securityMark(const QString &severity)
{
    static const QStringList words{QStringLiteral("严重"), QStringLiteral("重要"),
                                   QStringLiteral("中等"), QStringLiteral("低")};
    const int index = int(severities().indexOf(severity));
    return QStringLiteral("安全更新") +
           (index < 0 ? QString() : QStringLiteral("·") + words.at(index));
}

QVector<PackageAdvisories::Advisory>
PackageAdvisories::securityFixesFor(const QVector<Advisory> &advisories, const QString &installed,
                                    QString *severity)
{
    QVector<Advisory> missing;
    for (const Advisory &advisory : advisories)
        if (advisory.type == Security &&
            (installed.isEmpty() || RpmVersionOrder::compare(installed, advisory.fixedIn) < 0))
            missing << advisory;
    std::stable_sort(missing.begin(), missing.end(), [](const Advisory &a, const Advisory &b) {
        return rank(a.severity) > rank(b.severity);
    });
    *severity = missing.isEmpty() ? QString() : missing.first().severity;
    return missing;
}
