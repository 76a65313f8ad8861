#pragma once

#include <QString>

// The only ways a value from the catalog, a frame, the configuration or the user enters a
// shell command, an SQL literal or a path.
namespace Quoting
{

// A value of A-Z a-z 0-9 . _ + - : @ % / = , stays as it is; any other is single-quoted.
QString shell(const QString &value);

// The body of a single-quoted SQL literal: each ' doubled.
QString sqlLiteral(const QString &value);

// One path component that is safe to create and remove below a directory of ours:
// not empty, no '/', not "." or "..", not starting with '-' (read as an option).
bool isSafePathComponent(const QString &value);

} // namespace Quoting
