#pragma once

#include <QString>

// The order rpm puts versions in ("[EPOCH:]VERSION[-RELEASE]"): alphanumeric segments
// compared as rpmvercmp does, "~" before anything, "^" after the version it follows.
class RpmVersionOrder
{
public:
    // Negative when a is older than b, 0 when equal, positive when newer.
    static int compare(const QString &a, const QString &b);

private:
    static int compareSegments(const QString &a, const QString &b);
};
