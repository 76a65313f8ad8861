#include "records/quoting.h"

namespace Quoting
{

static bool isPlainShellChar(QChar c)
{
    const ushort u = c.unicode();
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9'))
        return true;
    switch (u) {
    case '.':
    case '_':
    case '+':
    case '-':
    case ':':
    case '@':
    case '%':
    case '/':
    case '=':
    case ',':
        return true;
    default:
        return false;
    }
}

QString shell(const QString &value)
{
    bool plain = !value.isEmpty();
    for (QChar c : value) {
        if (!isPlainShellChar(c)) {
            plain = false;
            break;
        }
    }
    if (plain)
        return value;
    QString quoted = value;
    quoted.replace(QLatin1Char('\''), QLatin1String("'\\''"));
    return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString sqlLiteral(const QString &value)
{
    QString escaped = value;
    escaped.replace(QLatin1Char('\''), QLatin1String("''"));
    return escaped;
}

bool isSafePathComponent(const QString &value)
{
    return !value.isEmpty() && !value.contains(QLatin1Char('/')) && value != QLatin1String(".") &&
           value != QLatin1String("..") && !value.startsWith(QLatin1Char('-')) &&
           !value.contains(QChar(0));
}

} // namespace Quoting
