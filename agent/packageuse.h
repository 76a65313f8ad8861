#pragma once

#include <QString>

// Whether an application of a package is in use: a running process whose program is one of
// the package's files (rpm -ql), read from /proc. The store asks by its command line; the
// agent has no catalog row to ask by, and a program runs from its package's files whatever
// it was launched as.
namespace PackageUse
{

bool isInUse(const QString &package);

} // namespace PackageUse
