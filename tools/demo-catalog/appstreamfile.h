#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVector>

// One desktop application of an AppStream collection.
struct AppStreamEntry {
    QString package;
    QString name;    // untranslated
    QString nameZh;  // zh_CN, empty for none
    QString summary; // untranslated
    QStringList categories;
    QByteArray icon;                       // PNG, 64x64; empty for none
    QMap<int, QByteArray> sizedIcons = {}; // PNG at other sizes (pixels) besides
};

// An AppStream collection with its icon archive, as the distributions' builders lay them out
// (collection XML with cached icons, archive members "64x64/PACKAGE.png"), added to a
// repository's repodata with modifyrepo_c.
class AppStreamFile
{
public:
    enum class IconArchives {
        SizeFolders,  // one "appstream-icons" archive, members "WxW/PACKAGE.png"
        OnePerSize,   // "appstream-icons-WxW" archives, members at the root, as
                      // appstream-generator writes them
        OneSizeAsAll, // appstream-generator's archive of 64x64 (else the first size) added
                      // as "appstream-icons", as generic instructions have it
    };

    explicit AppStreamFile(QVector<AppStreamEntry> entries,
                           IconArchives layout = IconArchives::SizeFolders)
        : m_entries(std::move(entries)), m_layout(layout)
    {
    }

    QString collectionXml() const;
    // Writes both into DIRECTORY/repodata; a repository rewritten by createrepo_c --update
    // keeps them with --keep-all-metadata, else they are added again.
    bool addTo(const QString &repositoryDirectory, QString *error) const;

private:
    // Each entry's icons by size.
    static QMap<int, QByteArray> iconsOf(const AppStreamEntry &entry);

    QVector<AppStreamEntry> m_entries;
    IconArchives m_layout;
};
