#include "repositorycatalog.h"

#include "appstreamcollection.h"
#include "primarypackages.h"
#include "repositorysnapshot.h"
#include "tararchive.h"

#include <QCryptographicHash>
#include <QPair>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace
{

const QString Primary = QStringLiteral("primary");
const QString AppStream = QStringLiteral("appstream");
const QString AppStreamIcons = QStringLiteral("appstream-icons");
// appstream-generator writes one icon archive per size, added as "appstream-icons-SIZE".
const QStringList IconSizes{QStringLiteral("64x64"), QStringLiteral("48x48"),
                            QStringLiteral("128x128")};
const QRegularExpression PackageName(QStringLiteral("^[A-Za-z0-9_+][A-Za-z0-9._+-]*$"));

} // namespace

RepositoryCatalog::RepositoryCatalog(const CatalogOverrides &overrides, const QString &locale,
                                     IconBounds iconBounds)
    : m_overrides(overrides), m_locale(locale), m_iconBounds(iconBounds)
{
}

bool RepositoryCatalog::read(const QString &directory, QString *error)
{
    RepositorySnapshot snapshot;
    QStringList types{Primary, AppStream, AppStreamIcons};
    for (const QString &size : IconSizes)
        types << AppStreamIcons + QLatin1Char('-') + size;
    if (!snapshot.read(directory, types, error))
        return false;
    if (!snapshot.has(Primary)) {
        *error = RepositorySnapshot::repomdPath(directory) + QStringLiteral(": no primary data");
        return false;
    }
    QByteArray xml;
    QVector<RepositoryPackage> newest;
    if (!snapshot.uncompressed(Primary, &xml, error) ||
        !PrimaryPackages::newest(xml, &newest, error))
        return false;
    QHash<QString, AppStreamApplication> applications;
    if (snapshot.has(AppStream) &&
        (!snapshot.uncompressed(AppStream, &xml, error) ||
         !AppStreamCollection::applications(xml, m_locale, &applications, error)))
        return false;

    QVector<CatalogPackage> packages;
    QHash<QString, QStringList> iconSources; // icon file name -> "WxW/NAME" to look for
    QStringList notes;
    QSet<QString> names;
    for (const RepositoryPackage &rpm : newest) {
        const PackageOverride change = m_overrides.of(rpm.name);
        const auto found = applications.constFind(rpm.name);
        const bool application = found != applications.cend();
        if (change.hide || (!application && !change.add))
            continue;
        // The name becomes a file name in the stores' icon folder and in rpm commands.
        if (!PackageName.match(rpm.name).hasMatch()) {
            notes << QStringLiteral("\"%1\" left out: not a usable package name").arg(rpm.name);
            continue;
        }
        const AppStreamApplication app = application ? *found : AppStreamApplication();
        CatalogPackage package;
        package.name = !change.name.isEmpty() ? change.name
                       : !app.name.isEmpty()  ? app.name
                                              : rpm.name;
        if (names.contains(package.name)) {
            notes << QStringLiteral("%1 left out: display name \"%2\" already taken")
                         .arg(rpm.name, package.name);
            continue;
        }
        names.insert(package.name);
        package.icon = rpm.name + QStringLiteral(".png");
        QString desktop = app.desktopId;
        if (desktop.endsWith(QLatin1String(".desktop")))
            desktop.chop(8);
        package.exec = !change.exec.isEmpty() ? change.exec
                       : !desktop.isEmpty()   ? QStringLiteral("gtk-launch ") + desktop
                                              : rpm.name;
        package.rpm = rpm.nameVersionRelease();
        package.version = rpm.version;
        package.size = QString::number(rpm.installSize);
        package.desc = !app.summary.isEmpty()       ? app.summary
                       : !rpm.description.isEmpty() ? rpm.description
                                                    : rpm.summary;
        package.rpmdeps = change.rpmdeps;
        package.star = change.star.isEmpty() ? QStringLiteral("3") : change.star;
        package.klass = !change.klass.isEmpty()
                            ? change.klass
                            : QString::number(m_overrides.categories().codeFor(app.categories));
        if (!app.cachedIcons.isEmpty())
            iconSources.insert(package.icon, app.cachedIcons);
        packages.append(package);
    }
    for (const QString &added : m_overrides.added())
        if (std::none_of(newest.cbegin(), newest.cend(),
                         [&](const RepositoryPackage &p) { return p.name == added; }))
            notes << added + QStringLiteral(": added by the overrides but not in the repository");

    QHash<QString, QByteArray> icons;
    if (!readIcons(snapshot, iconSources, &icons, &notes, error))
        return false;
    for (CatalogPackage &package : packages) {
        const auto icon = icons.constFind(package.icon);
        // A new picture makes the stores fetch it again; no picture, nothing to fetch.
        package.time =
            icon == icons.cend()
                ? QString()
                : QString::fromLatin1(
                      QCryptographicHash::hash(*icon, QCryptographicHash::Sha256).toHex().left(12));
    }
    m_digest = snapshot.repomdDigest();
    m_packages = packages;
    m_icons = icons;
    m_notes = notes;
    return true;
}

bool RepositoryCatalog::readIcons(const RepositorySnapshot &snapshot,
                                  const QHash<QString, QStringList> &wanted,
                                  QHash<QString, QByteArray> *icons, QStringList *notes,
                                  QString *error) const
{
    // A "WxW/NAME" icon is in the archive of its size, at its root or below WxW/, or in the
    // archive of all sizes below WxW/.
    const auto places = [](const QString &icon) {
        const QString sized =
            AppStreamIcons + QLatin1Char('-') + icon.section(QLatin1Char('/'), 0, 0);
        return QVector<QPair<QString, QString>>{
            {sized, icon.section(QLatin1Char('/'), 1)}, {sized, icon}, {AppStreamIcons, icon}};
    };
    QHash<QString, QSet<QString>> members; // archive type -> its members wanted
    for (const QStringList &candidates : wanted)
        for (const QString &icon : candidates)
            for (const auto &place : places(icon))
                if (snapshot.has(place.first))
                    members[place.first].insert(place.second);
    QHash<QString, QHash<QString, QByteArray>> files;
    for (auto it = members.cbegin(); it != members.cend(); ++it) {
        QByteArray archive;
        if (!snapshot.uncompressed(it.key(), &archive, error, m_iconBounds.archive))
            return false;
        QStringList oversize;
        files.insert(it.key(),
                     TarArchive::regularFiles(archive, it.value(), m_iconBounds.member, &oversize));
        for (const QString &member : oversize)
            *notes << QStringLiteral("icon %1 of %2 skipped: over %3 bytes")
                          .arg(member, snapshot.location(it.key()))
                          .arg(m_iconBounds.member);
    }
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it) {
        for (const QString &icon : it.value()) {
            const auto candidates = places(icon);
            const auto found =
                std::find_if(candidates.cbegin(), candidates.cend(), [&](const auto &p) {
                    return files.value(p.first).contains(p.second);
                });
            if (found != candidates.cend()) {
                icons->insert(it.key(), files.value(found->first).value(found->second));
                break;
            }
        }
    }
    return true;
}
