// GLib's headers name struct members "signals", which Qt's keyword macro would rewrite: they
// come before every Qt header.
#include <appstream.h>

#include "repository/appstreamcollection.h"

#include <QPair>
#include <QVector>

#include <algorithm>
#include <cstdlib>

namespace
{

QString text(const gchar *value)
{
    return QString::fromUtf8(value ? value : "");
}

// Cached icons as "WxW/NAME", 64 pixels first (the store shows them at 64), then the
// nearest size, the larger of two equally near.
QStringList cachedIconsOf(AsComponent *component)
{
    GPtrArray *icons = as_component_get_icons(component);
    QVector<QPair<int, QString>> found;
    for (guint i = 0; icons && i < icons->len; ++i) {
        AsIcon *icon = AS_ICON(g_ptr_array_index(icons, i));
        if (as_icon_get_kind(icon) != AS_ICON_KIND_CACHED || as_icon_get_scale(icon) > 1)
            continue;
        // appstream-builder writes unsized cached icons at 64 pixels.
        const int width = as_icon_get_width(icon) ? int(as_icon_get_width(icon)) : 64;
        found.append({width, QStringLiteral("%1x%1/").arg(width) + text(as_icon_get_name(icon))});
    }
    std::stable_sort(found.begin(), found.end(), [](const auto &a, const auto &b) {
        const int nearA = std::abs(a.first - 64);
        const int nearB = std::abs(b.first - 64);
        return nearA != nearB ? nearA < nearB : a.first > b.first;
    });
    QStringList ordered;
    for (const auto &icon : found)
        if (!ordered.contains(icon.second))
            ordered << icon.second;
    return ordered;
}

} // namespace

bool AppStreamCollection::applications(const QByteArray &xml, const QString &locale,
                                       QHash<QString, AppStreamApplication> *byPackage,
                                       QString *error)
{
    AsMetadata *metadata = as_metadata_new();
    as_metadata_set_format_style(metadata, AS_FORMAT_STYLE_COLLECTION);
    as_metadata_set_locale(metadata, locale.toUtf8().constData());
    GError *failure = nullptr;
    if (!as_metadata_parse(metadata, xml.constData(), AS_FORMAT_KIND_XML, &failure)) {
        *error = QStringLiteral("AppStream data: ") +
                 (failure ? text(failure->message) : QStringLiteral("unreadable"));
        if (failure)
            g_error_free(failure);
        g_object_unref(metadata);
        return false;
    }
    byPackage->clear();
    GPtrArray *components = as_metadata_get_components(metadata);
    for (guint i = 0; components && i < components->len; ++i) {
        AsComponent *component = AS_COMPONENT(g_ptr_array_index(components, i));
        // Owned by the component, whatever the declaration's missing const suggests.
        const QString packageName = text(as_component_get_pkgname(component));
        if (packageName.isEmpty() ||
            as_component_get_kind(component) != AS_COMPONENT_KIND_DESKTOP_APP)
            continue;
        as_component_set_active_locale(component, locale.toUtf8().constData());
        AppStreamApplication application;
        application.id = text(as_component_get_id(component));
        application.name = text(as_component_get_name(component));
        application.summary = text(as_component_get_summary(component));
        GPtrArray *categories = as_component_get_categories(component);
        for (guint c = 0; categories && c < categories->len; ++c)
            application.categories
                << text(static_cast<const gchar *>(g_ptr_array_index(categories, c)));
        AsLaunchable *launchable =
            as_component_get_launchable(component, AS_LAUNCHABLE_KIND_DESKTOP_ID);
        GPtrArray *entries = launchable ? as_launchable_get_entries(launchable) : nullptr;
        if (entries && entries->len > 0)
            application.desktopId = text(static_cast<const gchar *>(g_ptr_array_index(entries, 0)));
        application.cachedIcons = cachedIconsOf(component);
        byPackage->insert(packageName, application);
    }
    g_object_unref(metadata);
    return true;
}
