#include "catalogoverrides.h"

#include <QFile>
#include <QRegularExpression>

const char *const CatalogOverrides::Syntax =
    "Override file: one statement per line; blank lines and lines starting with # are ignored.\n"
    "  category DESKTOP-CATEGORY CODE  category table, first match wins; any such line\n"
    "                                  replaces the whole default table\n"
    "  fallback CODE                   code of an application no category line matches (13)\n"
    "  hide PACKAGE                    leave the package out of the catalog\n"
    "  add PACKAGE                     take the package in without AppStream data\n"
    "  name PACKAGE TEXT               display name\n"
    "  exec PACKAGE COMMAND            command line that launches it\n"
    "  rpmdeps PACKAGE NAME...         packages removed with it\n"
    "  star PACKAGE 0-5                rating\n"
    "  class PACKAGE CODE              category code 1-13, whatever its categories say";

namespace
{

bool isCode(const QString &text)
{
    bool ok = false;
    const int code = text.toInt(&ok);
    return ok && code >= 1 && code <= 13 && text == QString::number(code);
}

bool isPackageName(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_+][A-Za-z0-9._+-]*$"));
    return name.match(text).hasMatch();
}

} // namespace

bool CatalogOverrides::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        *error = path + QStringLiteral(": ") + file.errorString();
        return false;
    }
    return parse(QString::fromUtf8(file.readAll()), path, error);
}

bool CatalogOverrides::parse(const QString &text, const QString &fileName, QString *error)
{
    CategoryTable categories;
    bool ownTable = false;
    QHash<QString, PackageOverride> packages;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const auto fail = [&](const QString &what) {
            *error = QStringLiteral("%1:%2: %3").arg(fileName).arg(i + 1).arg(what);
            return false;
        };
        const QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")));
        const QString &keyword = words[0];
        if (keyword == QLatin1String("category")) {
            if (words.size() != 3 || !isCode(words[2]))
                return fail(QStringLiteral("expected: category DESKTOP-CATEGORY CODE (1-13)"));
            if (!ownTable)
                categories.clear();
            ownTable = true;
            categories.addRule(words[1], words[2].toInt());
            continue;
        }
        if (keyword == QLatin1String("fallback")) {
            if (words.size() != 2 || !isCode(words[1]))
                return fail(QStringLiteral("expected: fallback CODE (1-13)"));
            categories.setFallback(words[1].toInt());
            continue;
        }
        static const QStringList perPackage = {QStringLiteral("hide"),    QStringLiteral("add"),
                                               QStringLiteral("name"),    QStringLiteral("exec"),
                                               QStringLiteral("rpmdeps"), QStringLiteral("star"),
                                               QStringLiteral("class")};
        if (!perPackage.contains(keyword))
            return fail(QStringLiteral("unknown statement \"%1\"").arg(keyword));
        if (words.size() < 2 || !isPackageName(words[1]))
            return fail(QStringLiteral("%1 needs a package name").arg(keyword));
        PackageOverride &entry = packages[words[1]];
        // The rest of the line after the package name, inner blanks kept.
        const QString rest =
            line.mid(line.indexOf(words[1], keyword.size()) + words[1].size()).trimmed();
        const bool flag = keyword == QLatin1String("hide") || keyword == QLatin1String("add");
        if (flag != rest.isEmpty())
            return fail(flag ? QStringLiteral("%1 takes only a package name").arg(keyword)
                             : QStringLiteral("%1 needs a value").arg(keyword));
        if (keyword == QLatin1String("hide"))
            entry.hide = true;
        else if (keyword == QLatin1String("add"))
            entry.add = true;
        else if (keyword == QLatin1String("name"))
            entry.name = rest;
        else if (keyword == QLatin1String("exec"))
            entry.exec = rest;
        else if (keyword == QLatin1String("rpmdeps")) {
            for (const QString &dependency : rest.split(QLatin1Char(' '), Qt::SkipEmptyParts))
                if (!isPackageName(dependency))
                    return fail(QStringLiteral("\"%1\" is not a package name").arg(dependency));
            entry.rpmdeps = rest.split(QLatin1Char(' '), Qt::SkipEmptyParts).join(' ');
        } else if (keyword == QLatin1String("star")) {
            if (!QRegularExpression(QStringLiteral("^[0-5]$")).match(rest).hasMatch())
                return fail(QStringLiteral("star must be 0 to 5"));
            entry.star = rest;
        } else {
            if (!isCode(rest))
                return fail(QStringLiteral("class must be a code 1-13"));
            entry.klass = rest;
        }
    }
    m_categories = categories;
    m_packages = packages;
    return true;
}

QStringList CatalogOverrides::added() const
{
    QStringList names;
    for (auto it = m_packages.cbegin(); it != m_packages.cend(); ++it)
        if (it->add)
            names << it.key();
    names.sort();
    return names;
}
