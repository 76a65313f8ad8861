#pragma once

#include <QString>
#include <QStringList>

// Files named pwned* anywhere below a directory: what a hostile value that reached a shell
// would leave behind.
QStringList pwnedFiles(const QString &directory);
