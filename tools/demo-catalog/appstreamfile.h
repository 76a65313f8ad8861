#pragma once

#include <QByteArray>
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
    QByteArray icon; // PNG, 64x64; empty for none
};

// An AppStream collection with its icon archive, as the distributions' builders lay them out
// (collection XML with cached icons, archive members "64x64/PACKAGE.png"), added to a
// repository's repodata with modifyrepo_c.
class AppStreamFile
{
public:
    explicit AppStreamFile(QVector<AppStreamEntry> entries) : m_entries(std::move(entries)) {}

    QString collectionXml() const;
    // Writes both into DIRECTORY/repodata; a repository rewritten by createrepo_c --update
    // keeps them with --keep-all-metadata, else they are added again.
    bool addTo(const QString &repositoryDirectory, QString *error) const;

private:
    QVector<AppStreamEntry> m_entries;
};
