#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// Files the tests plant and inspect. writeFile makes the missing folders of the path and
// replaces what the file held; the readers give nothing for a file they cannot read.
bool writeFile(const QString &path, const QByteArray &data = QByteArrayLiteral("x"));
QByteArray readFile(const QString &path);
// The file's lines that are not empty.
QStringList readLines(const QString &path);
