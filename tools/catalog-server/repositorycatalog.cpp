#include "repositorycatalog.h"

#include "appstreamcollection.h"
#include "primarypackages.h"
#include "repositorysnapshot.h"
#include "tararchive.h"

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

// Text of the repository's for people to read, on one line: control characters (line
// breaks would also split log lines) become spaces, formatting characters (bidirectional
// overrides that turn a name around, invisible joiners) go, and it is cut to length.
QString plainText(const QString &text, int maxLength)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        if (c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator)
            out += QLatin1Char(' ');
        else if (c.category() != QChar::Other_Format)
            out += c;
    }
    out = out.simplified();
    if (out.size() > maxLength) {
        out.truncate(maxLength - 1);
        if (out.at(out.size() - 1).isHighSurrogate())
            out.chop(1);
        out += QChar(0x2026);
    }
    return out;
}

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
    RepositorySnapshot snapshot(m_checks);
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
    QSet<QString> namedByOverride;
    for (const RepositoryPackage &rpm : newest) {
        const PackageOverride change = m_overrides.of(rpm.name);
        const auto found = applications.constFind(rpm.name);
        const bool application = found != applications.cend();
        if (change.hide || (!application && !change.add))
            continue;
        // The name becomes a file name in the stores' icon folder and in rpm commands.
        if (!PackageName.match(rpm.name).hasMatch()) {
            notes << QStringLiteral("\"%1\" left out: not a usable package name")
                         .arg(plainText(rpm.name, MaxNameLength));
            continue;
        }
        if (!RpmWord.match(rpm.version).hasMatch() || !RpmWord.match(rpm.release).hasMatch()) {
            notes << QStringLiteral("%1 left out: version \"%2-%3\" is not one rpm makes")
                         .arg(rpm.name, plainText(rpm.version, MaxNameLength),
                              plainText(rpm.release, MaxNameLength));
            continue;
        }
        const AppStreamApplication app = application ? *found : AppStreamApplication();
        CatalogPackage package;
        package.name = plainText(app.name, MaxNameLength);
        if (!change.name.isEmpty()) {
            package.name = change.name;
            namedByOverride.insert(rpm.name);
        } else if (package.name.isEmpty()) {
            package.name = rpm.name;
        }
        package.icon = rpm.name + QStringLiteral(".png");
        if (!change.exec.isEmpty()) {
            package.exec = change.exec;
        } else if (DesktopId.match(app.desktopId).hasMatch()) {
            package.exec = QStringLiteral("gtk-launch ") + app.desktopId.chopped(8);
        } else {
            if (!app.desktopId.isEmpty())
                notes << QStringLiteral("%1: launchable \"%2\" is not a desktop-id, launched as "
                                        "\"%1\"")
                             .arg(rpm.name, plainText(app.desktopId, MaxNameLength));
            package.exec = rpm.name;
        }
        package.rpm = rpm.nameVersionRelease();
        package.version = rpm.version;
        package.size = QString::number(rpm.installSize);
        package.desc = plainText(!app.summary.isEmpty()       ? app.summary
                                 : !rpm.description.isEmpty() ? rpm.description
                                                              : rpm.summary,
                                 MaxDescriptionLength);
        package.rpmdeps = change.rpmdeps;
        package.star = change.star.isEmpty() ? QStringLiteral("3") : change.star;
        package.klass = !change.klass.isEmpty()
                            ? change.klass
                            : QString::number(m_overrides.categories().codeFor(app.categories));
        if (!app.cachedIcons.isEmpty())
            iconSources.insert(package.icon, app.cachedIcons);
        packages.append(package);
    }
    if (packages.size() > m_checks.maxPackages) {
        *error = QStringLiteral("%1 packages would enter the catalog, more than %2")
                     .arg(packages.size())
                     .arg(m_checks.maxPackages);
        return false;
    }
    separateNames(packages, namedByOverride, &notes);
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
    m_timestamp = snapshot.timestamp();
    m_packages = packages;
    m_icons = icons;
    m_notes = notes;
    return true;
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
        if (!snapshot.uncompressed(it.key(), &archive, error, m_checks.icons.archive))
            return false;
        QStringList oversize;
        files.insert(it.key(), TarArchive::regularFiles(archive, it.value(), m_checks.icons.member,
                                                        &oversize));
        for (const QString &member : oversize)
            *notes << QStringLiteral("icon %1 of %2 skipped: over %3 bytes")
                          .arg(member, snapshot.location(it.key()))
                          .arg(m_checks.icons.member);
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
