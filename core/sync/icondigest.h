#pragma once

#include <QString>

// The SHA-256 of an icon file in lower-case hexadecimal, as a signing catalog server puts it
// into each package element (attribute iconsha256) and a store with a key checks it.
namespace IconDigest
{

// Empty when the file cannot be read.
QString ofFile(const QString &path);

} // namespace IconDigest
