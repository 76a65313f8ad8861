#include "repository/catalogoverrides.h"

#include "groups/desktopgroups.h"
#include "repository/statementwords.h"

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
    "  class PACKAGE CODE              category code 1-13, whatever its categories say\n"
    "  pin PACKAGE VERSION-RELEASE     serve that version while the repository keeps it\n"
    "                                  (else its newest, said in the log)\n"
    "Each of the package statements may be limited to one group of desktops:\n"
    "  hide PACKAGE for GROUP          add PACKAGE for GROUP\n"
    "  pin PACKAGE VERSION-RELEASE for GROUP\n"
    "  name|exec|rpmdeps|star|class PACKAGE for GROUP VALUE\n"
    "  require PACKAGE [VERSION-RELEASE] [for GROUP] by DEADLINE window HH:MM-HH:MM\n"
    "          [notice DURATION]       the desktops' agent installs or upgrades it in the\n"
    "                                  window (the version the group is served unless given)\n"
    "  remove PACKAGE [for GROUP] by DEADLINE window HH:MM-HH:MM [notice DURATION]\n"
    "                                  DEADLINE: YYYY-MM-DD (its end) or YYYY-MM-DDTHH:MM\n"
    "A group's statement wins over the one for everyone; a package hidden for everyone stays\n"
    "hidden. A store never downgrades: a desktop that has a newer version keeps it.";

namespace
{

bool isCode(const QString &text)
{
    bool ok = false;
    const int code = text.toInt(&ok);
    return ok && code >= 1 && code <= 13 && text == QString::number(code);
}

// Fields the group's entry sets win; a flag set anywhere holds.
PackageOverride merged(PackageOverride all, const PackageOverride &own)
{
    all.hide = all.hide || own.hide;
    all.add = all.add || own.add;
    for (auto field : {&PackageOverride::name, &PackageOverride::exec, &PackageOverride::rpmdeps,
                       &PackageOverride::star, &PackageOverride::klass})
        if (!(own.*field).isEmpty())
            all.*field = own.*field;
    return all;
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
    QHash<QString, QHash<QString, PackageOverride>> groupPackages;
    VersionHolds pins;
    Requirements requirements;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const auto fail = [&](const QString &what) {
            *error = QStringLiteral("%1:%2: %3").arg(fileName).arg(i + 1).arg(what);
            return false;
        };
        QStringList words = line.split(QRegularExpression(QStringLiteral("\\s+")));
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
        if (keyword == QLatin1String("require") || keyword == QLatin1String("remove")) {
            Requirement requirement;
            QString what;
            if (!Requirement::parse(words, &requirement, &what))
                return fail(what);
            requirements << requirement;
            continue;
        }
        static const QStringList perPackage = {QStringLiteral("hide"),    QStringLiteral("add"),
                                               QStringLiteral("name"),    QStringLiteral("exec"),
                                               QStringLiteral("rpmdeps"), QStringLiteral("star"),
                                               QStringLiteral("class"),   QStringLiteral("pin")};
        if (!perPackage.contains(keyword))
            return fail(QStringLiteral("unknown statement \"%1\"").arg(keyword));
        if (words.size() < 2 || !StatementWords::isPackageName(words[1]))
            return fail(QStringLiteral("%1 needs a package name").arg(keyword));
        const bool flag = keyword == QLatin1String("hide") || keyword == QLatin1String("add");
        const bool pin = keyword == QLatin1String("pin");
        // "for GROUP" ends a flag or a pin and follows the package name otherwise.
        const int forAt = flag ? 2 : pin ? 3 : 2;
        QString group;
        QString rest;
        if (words.size() >= forAt + 2 && words[forAt] == QLatin1String("for")) {
            group = words[forAt + 1];
            if (!DesktopGroups::isName(group))
                return fail(QStringLiteral("\"%1\" is not a group name").arg(group));
            words.erase(words.begin() + forAt, words.begin() + forAt + 2);
            if (flag || pin) {
                if (words.size() != forAt)
                    return fail(QStringLiteral("%1: nothing may follow the group").arg(keyword));
            } else {
                rest = words.mid(2).join(QLatin1Char(' '));
            }
        }
        if (group.isEmpty())
            // The rest of the line after the package name, inner blanks kept.
            rest = line.mid(line.indexOf(words[1], keyword.size()) + words[1].size()).trimmed();
        if (pin) {
            if (words.size() != 3 || !StatementWords::isVersionRelease(words[2]))
                return fail(QStringLiteral("expected: pin PACKAGE VERSION-RELEASE [for GROUP]"));
            pins << VersionHold{words[1], group, words[2]};
            continue;
        }
        PackageOverride &entry =
            group.isEmpty() ? packages[words[1]] : groupPackages[group][words[1]];
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
                if (!StatementWords::isPackageName(dependency))
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
    m_groupPackages = groupPackages;
    m_pins = pins;
    m_requirements = requirements;
    return true;
}

PackageOverride CatalogOverrides::of(const QString &package, const QString &group) const
{
    const PackageOverride all = m_packages.value(package);
    const auto own = m_groupPackages.constFind(group);
    if (group.isEmpty() || own == m_groupPackages.cend() || !own->contains(package))
        return all;
    return merged(all, own->value(package));
}

QStringList CatalogOverrides::added(const QString &group) const
{
    QStringList names;
    for (auto it = m_packages.cbegin(); it != m_packages.cend(); ++it)
        if (it->add)
            names << it.key();
    const QHash<QString, PackageOverride> own = m_groupPackages.value(group);
    for (auto it = own.cbegin(); it != own.cend(); ++it)
        if (it->add && !names.contains(it.key()))
            names << it.key();
    names.sort();
    return names;
}

QStringList CatalogOverrides::groups() const
{
    QStringList names = m_groupPackages.keys();
    for (const VersionHold &pin : m_pins)
        if (!pin.group.isEmpty() && !names.contains(pin.group))
            names << pin.group;
    for (const Requirement &requirement : m_requirements)
        if (!requirement.group.isEmpty() && !names.contains(requirement.group))
            names << requirement.group;
    names.sort();
    return names;
}
