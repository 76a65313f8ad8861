#include "records/rpmversionorder.h"

namespace
{

struct Evr {
    QString epoch;
    QString version;
    QString release;
};

Evr split(const QString &text)
{
    Evr evr;
    QString rest = text;
    const int colon = rest.indexOf(QLatin1Char(':'));
    if (colon >= 0) {
        evr.epoch = rest.left(colon);
        rest = rest.mid(colon + 1);
    }
    const int dash = rest.lastIndexOf(QLatin1Char('-'));
    evr.version = dash >= 0 ? rest.left(dash) : rest;
    evr.release = dash >= 0 ? rest.mid(dash + 1) : QString();
    return evr;
}

bool isAlnum(QChar c)
{
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

bool isDigit(QChar c)
{
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

} // namespace

int RpmVersionOrder::compareSegments(const QString &a, const QString &b)
{
    if (a == b)
        return 0;
    int i = 0;
    int j = 0;
    while (i < a.size() || j < b.size()) {
        while (i < a.size() && !isAlnum(a[i]) && a[i] != QLatin1Char('~') &&
               a[i] != QLatin1Char('^'))
            ++i;
        while (j < b.size() && !isAlnum(b[j]) && b[j] != QLatin1Char('~') &&
               b[j] != QLatin1Char('^'))
            ++j;
        // A tilde sorts before everything, the end of the text included.
        const bool tildeA = i < a.size() && a[i] == QLatin1Char('~');
        const bool tildeB = j < b.size() && b[j] == QLatin1Char('~');
        if (tildeA || tildeB) {
            if (!tildeA)
                return 1;
            if (!tildeB)
                return -1;
            ++i;
            ++j;
            continue;
        }
        // A caret sorts after the end of the text, before anything else.
        const bool caretA = i < a.size() && a[i] == QLatin1Char('^');
        const bool caretB = j < b.size() && b[j] == QLatin1Char('^');
        if (caretA || caretB) {
            if (i >= a.size())
                return -1;
            if (j >= b.size())
                return 1;
            if (!caretA)
                return 1;
            if (!caretB)
                return -1;
            ++i;
            ++j;
            continue;
        }
        if (i >= a.size() || j >= b.size())
            break;
        const bool numeric = isDigit(a[i]);
        int endA = i;
        int endB = j;
        while (endA < a.size() &&
               (numeric ? isDigit(a[endA]) : isAlnum(a[endA]) && !isDigit(a[endA])))
            ++endA;
        while (endB < b.size() &&
               (numeric ? isDigit(b[endB]) : isAlnum(b[endB]) && !isDigit(b[endB])))
            ++endB;
        if (endB == j) // a number against letters: the number is newer
            return numeric ? 1 : -1;
        QString segA = a.mid(i, endA - i);
        QString segB = b.mid(j, endB - j);
        if (numeric) {
            while (segA.size() > 1 && segA[0] == QLatin1Char('0'))
                segA.remove(0, 1);
            while (segB.size() > 1 && segB[0] == QLatin1Char('0'))
                segB.remove(0, 1);
            if (segA.size() != segB.size())
                return segA.size() < segB.size() ? -1 : 1;
        }
        const int order = QString::compare(segA, segB);
        if (order != 0)
            return order < 0 ? -1 : 1;
        i = endA;
        j = endB;
    }
    if (i >= a.size() && j >= b.size())
        return 0;
    return i >= a.size() ? -1 : 1;
}

int RpmVersionOrder::compare(const QString &a, const QString &b)
{
    const Evr left = split(a);
    const Evr right = split(b);
    const qlonglong epochA = left.epoch.toLongLong();
    const qlonglong epochB = right.epoch.toLongLong();
    if (epochA != epochB)
        return epochA < epochB ? -1 : 1;
    if (const int order = compareSegments(left.version, right.version))
        return order;
    // A side without a release matches any release, as rpm compares a bare version.
    if (left.release.isEmpty() || right.release.isEmpty())
        return 0;
    return compareSegments(left.release, right.release);
}
