#pragma once

#include <QByteArray>
#include <QString>

// Files the tests plant and inspect. writeFile makes the missing folders of the path and
// replaces what the file held; readFile gives nothing for a file it cannot read.
bool writeFile(const QString &path, const QByteArray &data = QByteArrayLiteral("x"));
QByteArray readFile(const QString &path);
