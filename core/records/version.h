#pragma once

#include "records/rpminfo.h"

#include <QString>

extern "C" {
// 1 when every byte is an ASCII digit; the empty text counts as numeric.
int IsNumeric(const char *text);
}

// -1 when a is newer than b, 1 when a is older, 0 when equal. Callers pass the installed
// version first, so 1 means an update is available. Deliberately asymmetric: 1.2 against
// 1.2.1 is 0, while 1.2.1 against 1.2 is -1.
int compareversion(const QString &a, const QString &b);

// name-version-release split at every '-': release and version are the last two parts,
// the name the rest joined with '-'. Missing parts are empty.
RpmInfo splitPackageString(const QString &package);
