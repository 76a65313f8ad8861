#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>

// What a repository's AppStream collection says of one desktop application.
struct AppStreamApplication {
    QString id;
    QString name;    // in the chosen locale, else untranslated
    QString summary; // likewise
    QStringList categories;
    QString desktopId;       // launchable desktop entry, empty when none
    QStringList cachedIcons; // "WxW/NAME" of each cached icon, the one to prefer first
};

// An AppStream collection (repomd type "appstream") read with libappstream.
namespace AppStreamCollection
{

// Desktop applications keyed by package name. False with *error set when the XML is broken.
bool applications(const QByteArray &xml, const QString &locale,
                  QHash<QString, AppStreamApplication> *byPackage, QString *error);

} // namespace AppStreamCollection
