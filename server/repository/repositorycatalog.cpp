#include "repository/repositorycatalog.h"

#include "groups/desktopgroups.h"
#include "repository/appstreamcollection.h"
#include "repository/primarypackages.h"
#include "repository/repositorysnapshot.h"
#include "repository/repositorytext.h"
#include "repository/tararchive.h"

#include <QCryptographicHash>
#include <QMap>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace
{

const QString Primary = QStringLiteral("primary");
const QString AppStream = QStringLiteral("appstream");
const QString AppStreamIcons = QStringLiteral("appstream-icons");
const QString UpdateInfo = QStringLiteral("updateinfo");
// appstream-generator writes one icon archive per size, added as "appstream-icons-SIZE".
const QStringList IconSizes{QStringLiteral("64x64"), QStringLiteral("48x48"),
                            QStringLiteral("128x128")};
const QRegularExpression PackageName(QStringLiteral("^[A-Za-z0-9_+][A-Za-z0-9._+-]*$"));
// The store runs "gtk-launch ID" through the shell: an AppStream desktop-id, nothing else.
const QRegularExpression DesktopId(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9._-]*\\.desktop$"));
// Version and release as rpm allows them; they end up in rpm and dnf command lines.
const QRegularExpression RpmWord(QStringLiteral("^[A-Za-z0-9._+~^]+$"));
constexpr int MaxNameLength = 100;
constexpr int MaxDescriptionLength = 1000;
constexpr int NamingRounds = 4;

QString packageOf(const CatalogPackage &package)
{
    return package.icon.chopped(4); // the package name + ".png"
}

} // namespace

RepositoryCatalog::RepositoryCatalog(const CatalogOverrides &overrides, const QString &locale,
                                     const RepositoryChecks &checks)
    : m_overrides(overrides), m_locale(locale), m_checks(checks)
{
}

bool RepositoryCatalog::read(const QString &directory, QString *error)
{
    return read(directory, {}, {}, error);
}

bool RepositoryCatalog::read(const QString &directory, const QStringList &groups,
                             const VersionHolds &holds, QString *error)
{
    RepositorySnapshot snapshot(m_checks);
    QStringList types{Primary, AppStream, AppStreamIcons, UpdateInfo};
    for (const QString &size : IconSizes)
        types << AppStreamIcons + QLatin1Char('-') + size;
    if (!snapshot.read(directory, types, error))
        return false;
    if (!snapshot.has(Primary)) {
        *error = RepositorySnapshot::repomdPath(directory) + QStringLiteral(": no primary data");
        return false;
    }
    QByteArray xml;
    QVector<RepositoryPackage> all;
    if (!snapshot.uncompressed(Primary, &xml, error) || !PrimaryPackages::all(xml, &all, error))
        return false;
    QHash<QString, AppStreamApplication> applications;
    if (snapshot.has(AppStream) &&
        (!snapshot.uncompressed(AppStream, &xml, error) ||
         !AppStreamCollection::applications(xml, m_locale, &applications, error)))
        return false;
    UpdateInfoAdvisories advisories;
    QStringList notes;
    if (snapshot.has(UpdateInfo) && (!snapshot.uncompressed(UpdateInfo, &xml, error) ||
                                     !advisories.read(xml, m_checks.maxAdvisories, &notes, error)))
        return false;
    m_all = all;
    m_applications = applications;
    m_advisories = advisories;

    // A group no statement or hold names gets the default catalog as it is.
    QSet<QString> own;
    for (const QString &group : m_overrides.groups())
        own.insert(group);
    bool holdForAll = false;
    for (const VersionHold &hold : holds + m_overrides.pins()) {
        own.insert(hold.group);
        holdForAll = holdForAll || hold.group.isEmpty();
    }
    QHash<QString, QStringList> iconSources; // icon file name -> "WxW/NAME" to look for
    QHash<const RepositoryPackage *, CatalogPackage> bases; // each version's entry
    QHash<QString, QVector<CatalogPackage>> catalogs;
    catalogs.insert(DesktopGroups::Default,
                    compose(DesktopGroups::Default, holds, &bases, &iconSources, &notes));
    // A rollout holds "default" itself back: its catalog is then no other group's to share.
    const bool defaultOwn = own.contains(DesktopGroups::Default);
    for (const QString &group : groups)
        if (group != DesktopGroups::Default && (own.contains(group) || holdForAll || defaultOwn))
            catalogs.insert(group, compose(group, holds, &bases, &iconSources, &notes));
    for (auto it = catalogs.cbegin(); it != catalogs.cend(); ++it)
        if (it->size() > m_checks.maxPackages) {
            *error = QStringLiteral("%1 packages would enter the catalog, more than %2")
                         .arg(it->size())
                         .arg(m_checks.maxPackages);
            return false;
        }
    const QVector<RepositoryPackage> newest = PrimaryPackages::newestOf(all);
    for (const QString &group : catalogs.keys())
        for (const QString &added : m_overrides.added(group))
            if (std::none_of(newest.cbegin(), newest.cend(),
                             [&](const RepositoryPackage &p) { return p.name == added; }))
                notes << added +
                             QStringLiteral(": added by the overrides but not in the repository");

    QHash<QString, QByteArray> icons;
    QStringList layouts;
    if (!readIcons(snapshot, iconSources, &icons, &notes, &layouts, error))
        return false;
    QHash<QString, QString> times;
    for (auto icon = icons.cbegin(); icon != icons.cend(); ++icon)
        // A new picture makes the stores fetch it again; no picture, nothing to fetch.
        times.insert(
            icon.key(),
            QString::fromLatin1(
                QCryptographicHash::hash(*icon, QCryptographicHash::Sha256).toHex().left(12)));
    for (QVector<CatalogPackage> &catalog : catalogs)
        for (CatalogPackage &package : catalog)
            package.time = times.value(package.icon);
    // Shared, not copied: the server composes the frames of a shared catalog once.
    for (const QString &group : groups)
        if (!catalogs.contains(group))
            catalogs.insert(group, catalogs.value(DesktopGroups::Default));
    notes.removeDuplicates();
    m_digest = snapshot.repomdDigest();
    m_timestamp = snapshot.timestamp();
    m_catalogs = catalogs;
    m_packages = catalogs.value(DesktopGroups::Default);
    m_icons = icons;
    m_iconLayouts = layouts;
    m_notes = notes;
    return true;
}

QHash<QString, QStringList> RepositoryCatalog::versionReleases() const
{
    QHash<QString, QStringList> kept;
    for (const RepositoryPackage &package : m_all)
        kept[package.name] << package.version + QLatin1Char('-') + package.release;
    return kept;
}

CatalogPackage RepositoryCatalog::entryOf(const RepositoryPackage &rpm, QStringList *notes) const
{
    CatalogPackage package;
    // The name becomes a file name in the stores' icon folder and in rpm commands.
    if (!PackageName.match(rpm.name).hasMatch()) {
        *notes << QStringLiteral("\"%1\" left out: not a usable package name")
                      .arg(RepositoryText::plain(rpm.name, MaxNameLength));
        return package;
    }
    if (!RpmWord.match(rpm.version).hasMatch() || !RpmWord.match(rpm.release).hasMatch()) {
        *notes << QStringLiteral("%1 left out: version \"%2-%3\" is not one rpm makes")
                      .arg(rpm.name, RepositoryText::plain(rpm.version, MaxNameLength),
                           RepositoryText::plain(rpm.release, MaxNameLength));
        return package;
    }
    const AppStreamApplication app = m_applications.value(rpm.name);
    package.name = RepositoryText::plain(app.name, MaxNameLength);
    if (package.name.isEmpty())
        package.name = rpm.name;
    package.icon = rpm.name + QStringLiteral(".png");
    package.exec = DesktopId.match(app.desktopId).hasMatch()
                       ? QStringLiteral("gtk-launch ") + app.desktopId.chopped(8)
                       : rpm.name;
    package.rpm = rpm.nameVersionRelease();
    package.version = rpm.version;
    package.size = QString::number(rpm.installSize);
    package.desc = RepositoryText::plain(!app.summary.isEmpty()       ? app.summary
                                         : !rpm.description.isEmpty() ? rpm.description
                                                                      : rpm.summary,
                                         MaxDescriptionLength);
    package.star = QStringLiteral("3");
    package.klass = QString::number(m_overrides.categories().codeFor(app.categories));
    package.advisories =
        m_advisories.attributeFor(rpm.name, rpm.version + QLatin1Char('-') + rpm.release);
    return package;
}

QVector<CatalogPackage>
RepositoryCatalog::compose(const QString &group, const VersionHolds &holds,
                           QHash<const RepositoryPackage *, CatalogPackage> *bases,
                           QHash<QString, QStringList> *iconSources, QStringList *notes) const
{
    // The version each package is held to in this group: its own hold before one for all.
    QHash<QString, QString> heldTo;
    for (const bool ownGroup : {true, false})
        for (const VersionHold &hold : m_overrides.pins() + holds)
            if ((ownGroup ? hold.group == group : hold.group.isEmpty()) &&
                !heldTo.contains(hold.package))
                heldTo.insert(hold.package, hold.versionRelease);

    const QStringList addedList = m_overrides.added(group);
    const QSet<QString> added(addedList.cbegin(), addedList.cend());
    QVector<CatalogPackage> packages;
    QSet<QString> namedByOverride;
    for (int i = 0; i < m_all.size(); ++i) {
        // The versions of one name follow each other, newest first.
        int end = i + 1;
        while (end < m_all.size() && m_all[end].name == m_all[i].name)
            ++end;
        const int first = i;
        i = end - 1;
        const auto app = m_applications.constFind(m_all[first].name);
        if (app == m_applications.cend() && !added.contains(m_all[first].name))
            continue;
        const RepositoryPackage *chosen = &m_all[first];
        const auto held = heldTo.constFind(m_all[first].name);
        if (held != heldTo.cend()) {
            for (int v = first; v < end; ++v)
                if (m_all[v].version + QLatin1Char('-') + m_all[v].release == *held)
                    chosen = &m_all[v];
            if (chosen == &m_all[first] &&
                *held != chosen->version + QLatin1Char('-') + chosen->release)
                *notes << QStringLiteral("%1 in group %2 is held to %3, which the repository no "
                                         "longer keeps: serving %4")
                              .arg(m_all[first].name, group, *held,
                                   chosen->version + QLatin1Char('-') + chosen->release);
        }
        const RepositoryPackage &rpm = *chosen;
        const PackageOverride change = m_overrides.of(rpm.name, group);
        if (change.hide)
            continue;
        // Made once for all groups: the texts are the same whoever gets them.
        auto base = bases->find(chosen);
        if (base == bases->end())
            base = bases->insert(chosen, entryOf(rpm, notes));
        if (base->rpm.isEmpty()) // left out, said once
            continue;
        CatalogPackage package = *base;
        // Launched by its package name: the launchable, if any, was no desktop-id.
        if (change.exec.isEmpty() && package.exec == rpm.name && app != m_applications.cend() &&
            !app->desktopId.isEmpty())
            *notes << QStringLiteral("%1: launchable \"%2\" is not a desktop-id, launched as "
                                     "\"%1\"")
                          .arg(rpm.name, RepositoryText::plain(app->desktopId, MaxNameLength));
        if (!change.name.isEmpty()) {
            package.name = change.name;
            namedByOverride.insert(rpm.name);
        }
        if (!change.exec.isEmpty())
            package.exec = change.exec;
        package.rpmdeps = change.rpmdeps;
        if (!change.star.isEmpty())
            package.star = change.star;
        if (!change.klass.isEmpty())
            package.klass = change.klass;
        if (app != m_applications.cend() && !app->cachedIcons.isEmpty())
            iconSources->insert(package.icon, app->cachedIcons);
        packages.append(package);
    }
    separateNames(packages, namedByOverride, notes);
    return packages;
}

void RepositoryCatalog::separateNames(QVector<CatalogPackage> &packages, const QSet<QString> &fixed,
                                      QStringList *notes)
{
    // "NAME (package)" may itself be a name another package claims: a few rounds, then
    // whatever still clashes leaves the catalog.
    for (int round = 0; round <= NamingRounds; ++round) {
        QMap<QString, QVector<int>> claims; // ordered: the log lines come in one order
        for (int i = 0; i < packages.size(); ++i)
            claims[packages[i].name] << i;
        QSet<int> dropped;
        for (auto it = claims.cbegin(); it != claims.cend(); ++it) {
            if (it->size() < 2)
                continue;
            QStringList claimants;
            int fixedCount = 0;
            for (const int i : *it) {
                claimants << packageOf(packages[i]);
                fixedCount += fixed.contains(packageOf(packages[i])) ? 1 : 0;
            }
            if (round == NamingRounds) {
                notes->append(QStringLiteral("%1 left out: they still claim one display name "
                                             "\"%2\"; set one with \"name PACKAGE TEXT\"")
                                  .arg(claimants.join(QStringLiteral(", ")), it.key()));
                for (const int i : *it)
                    dropped.insert(i);
                continue;
            }
            // A name the administrator chose stays, when only one of them has one.
            for (const int i : *it)
                if (fixedCount != 1 || !fixed.contains(packageOf(packages[i])))
                    packages[i].name =
                        QStringLiteral("%1 (%2)").arg(it.key(), packageOf(packages[i]));
            notes->append(QStringLiteral("display name \"%1\" claimed by %2: each shown as "
                                         "\"%1 (package)\"; an override \"name PACKAGE TEXT\" "
                                         "settles it")
                              .arg(it.key(), claimants.join(QStringLiteral(" and "))));
        }
        if (claims.size() == packages.size())
            return;
        for (int i = packages.size() - 1; i >= 0; --i)
            if (dropped.contains(i))
                packages.remove(i);
    }
}

bool RepositoryCatalog::readIcons(const RepositorySnapshot &snapshot,
                                  const QHash<QString, QStringList> &wanted,
                                  QHash<QString, QByteArray> *icons, QStringList *notes,
                                  QStringList *layouts, QString *error) const
{
    // An archive's layout comes from what it holds, not from the type it was added as
    // (modifyrepo_c --mdtype=appstream-icons on appstream-generator's per-size archive is
    // common): "WxW/NAME" below size folders, or "NAME" at its root, of the size its PNG
    // header gives, else the one its type names. Archives of one size first.
    QStringList archives;
    for (const QString &size : IconSizes)
        if (snapshot.has(AppStreamIcons + QLatin1Char('-') + size))
            archives << AppStreamIcons + QLatin1Char('-') + size;
    if (snapshot.has(AppStreamIcons))
        archives << AppStreamIcons;
    QSet<QString> members;
    for (const QStringList &candidates : wanted)
        for (const QString &icon : candidates)
            members << icon << icon.section(QLatin1Char('/'), 1);
    QHash<QString, QHash<QString, QByteArray>> files;
    for (const QString &type : archives) {
        QByteArray archive;
        if (!snapshot.uncompressed(type, &archive, error, m_checks.icons.archive))
            return false;
        QStringList oversize;
        const QHash<QString, QByteArray> found =
            TarArchive::regularFiles(archive, members, m_checks.icons.member, &oversize);
        files.insert(type, found);
        for (const QString &member : oversize)
            *notes << QStringLiteral("icon %1 of %2 skipped: over %3 bytes")
                          .arg(member, snapshot.location(type))
                          .arg(m_checks.icons.member);
        const auto keys = found.keys();
        const bool folders = std::any_of(keys.cbegin(), keys.cend(), [](const QString &k) {
            return k.contains(QLatin1Char('/'));
        });
        const bool root = std::any_of(keys.cbegin(), keys.cend(), [](const QString &k) {
            return !k.contains(QLatin1Char('/'));
        });
        *layouts << QStringLiteral("icon archive %1 (%2): %3")
                        .arg(snapshot.location(type), type,
                             folders && root ? QStringLiteral("members below size folders and at "
                                                              "the root")
                             : folders       ? QStringLiteral("members below size folders")
                             : root          ? QStringLiteral("members at the root")
                                             : QStringLiteral("none of the icons wanted"));
    }
    const auto sizeAtRoot = [](const QString &type, const QByteArray &png) {
        // Width and height stand in the IHDR chunk right after the signature.
        if (png.size() >= 24 && png.startsWith("\x89PNG\r\n\x1a\n") && png.mid(12, 4) == "IHDR") {
            const auto number = [&](int at) {
                return (quint32(quint8(png[at])) << 24) | (quint32(quint8(png[at + 1])) << 16) |
                       (quint32(quint8(png[at + 2])) << 8) | quint32(quint8(png[at + 3]));
            };
            return QStringLiteral("%1x%2").arg(number(16)).arg(number(20));
        }
        return type.mid(AppStreamIcons.size() + 1); // "" for the archive of all sizes
    };
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
        const QByteArray *picture = nullptr;
        for (const QString &icon : it.value()) {
            const QString size = icon.section(QLatin1Char('/'), 0, 0);
            const QString name = icon.section(QLatin1Char('/'), 1);
            for (const QString &type : qAsConst(archives)) {
                const QHash<QString, QByteArray> &held = files[type];
                auto found = held.constFind(icon);
                if (found == held.cend()) {
                    found = held.constFind(name);
                    const QString rootSize =
                        found == held.cend() ? QString() : sizeAtRoot(type, *found);
                    if (!rootSize.isEmpty() && rootSize != size)
                        found = held.cend();
                }
                if (found != held.cend()) {
                    picture = &*found;
                    break;
                }
            }
            if (picture)
                break;
        }
        if (picture)
            icons->insert(it.key(), *picture);
    }
    return true;
}
