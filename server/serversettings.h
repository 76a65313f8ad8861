#pragma once

#include <QString>
#include <QStringList>

// The catalog server's service configuration: "key = value" lines (blank lines and lines
// starting with "#" ignored), each standing for the command-line option of that name, so
// options given on the command line still win.
namespace ServerSettings
{

// Keys and what they set, for --help.
extern const char *const Syntax;

// The options the file stands for. False with *error "FILE:LINE: what is wrong" at the first
// wrong line.
bool options(const QString &path, QStringList *arguments, QString *error);

} // namespace ServerSettings
