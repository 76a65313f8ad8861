#include "repositorycatalog.h"

#include "appstreamcollection.h"
#include "primarypackages.h"
#include "repositorysnapshot.h"
#include "tararchive.h"

#include <QCryptographicHash>
#include <QRegularExpression>
#include <QSet>
#include <algorithm>

namespace
{

const QString Primary = QStringLiteral("primary");
const QString AppStream = QStringLiteral("appstream");
const QString AppStreamIcons = QStringLiteral("appstream-icons");
const QRegularExpression PackageName(QStringLiteral("^[A-Za-z0-9_+][A-Za-z0-9._+-]*$"));

} // namespace

RepositoryCatalog::RepositoryCatalog(const CatalogOverrides &overrides, const QString &locale)
    : m_overrides(overrides), m_locale(locale)
{
}

bool RepositoryCatalog::read(const QString &directory, QString *error)
{
    RepositorySnapshot snapshot;
    if (!snapshot.read(directory, {Primary, AppStream, AppStreamIcons}, error))
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
    QHash<QString, QString> iconSources; // icon file name -> member of the icon archive
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
        if (!app.cachedIcon.isEmpty())
            iconSources.insert(package.icon, app.cachedIcon);
        packages.append(package);
    }
    for (const QString &added : m_overrides.added())
        if (std::none_of(newest.cbegin(), newest.cend(),
                         [&](const RepositoryPackage &p) { return p.name == added; }))
            notes << added + QStringLiteral(": added by the overrides but not in the repository");

    QHash<QString, QByteArray> icons;
    if (!iconSources.isEmpty() && snapshot.has(AppStreamIcons)) {
        QByteArray archive;
        if (!snapshot.uncompressed(AppStreamIcons, &archive, error))
            return false;
        readIcons(archive, iconSources, &icons);
    }
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

void RepositoryCatalog::readIcons(const QByteArray &archive, const QHash<QString, QString> &wanted,
                                  QHash<QString, QByteArray> *icons) const
{
    const QList<QString> members = wanted.values();
    const QSet<QString> names(members.cbegin(), members.cend());
    const QHash<QString, QByteArray> files = TarArchive::regularFiles(archive, names);
    for (auto it = wanted.cbegin(); it != wanted.cend(); ++it)
        if (files.contains(it.value()))
            icons->insert(it.key(), files.value(it.value()));
}
