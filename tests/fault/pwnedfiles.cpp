#include "pwnedfiles.h"

#include <QDir>
#include <QDirIterator>

QStringList pwnedFiles(const QString &directory)
{
    QStringList found;
    QDirIterator it(directory, {QStringLiteral("pwned*")}, QDir::Files | QDir::Hidden,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}
