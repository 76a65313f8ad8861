#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QVector>

// The HTTP file area the stores fetch from, as the service writes it. Whoever can write a
// folder on the way could point a name at a file of the service's (its key, its sequence), so
// every folder is opened without following links and must be the service's own and closed to
// group and others, and every file is written beside under a fresh name and renamed into
// place: a link at the final name is replaced, never written through, and a store reading
// meanwhile gets the old file or the new one whole.
class FileArea
{
public:
    explicit FileArea(const QString &root = QString());

    bool isSet() const { return !m_root.isEmpty(); }
    QString root() const { return m_root; }

    // Why the service must not use root as its file area, in one line; empty when it may.
    // Creates root when it is missing. privateFiles (the key, its sequence) must lie outside
    // it and have no other name that could.
    static QString refusal(const QString &root, const QStringList &privateFiles);

    // relative: folders and a file name below the root, no "." or ".." parts.
    bool write(const QString &relative, const QByteArray &data, QString *error) const;
    struct File {
        QString name; // one path component
        QByteArray data;
    };
    // Many files into one folder (folders below the root, as for write), checked once for all
    // and rewritten in place, unsynced: a reader meanwhile may get a file cut or mixed, so only
    // for files whose readers check them whole (signed plans) and that are written anew after
    // a restart. A name that is a link, has another name or is not the service's is refused.
    bool writeAll(const QString &folderRelative, const QVector<File> &files, QString *error) const;
    // A missing file reads as empty; a link or a file with another name is refused.
    bool read(const QString &relative, QByteArray *data, QString *error) const;
    // Removes a regular file of the service's own; a missing one is no error, anything else
    // is left in place.
    bool remove(const QString &relative, QString *error) const;

private:
    // The folder holding relative's file, opened and checked (made when create); -1 with
    // *error set otherwise. *name gets the file name.
    int openParent(const QString &relative, bool create, QString *name, QString *error) const;

    QString m_root;
};
