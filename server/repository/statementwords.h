#pragma once

#include <QRegularExpression>
#include <QString>

// The words an override statement names packages and versions with: what rpm could name, and
// nothing a path, an option or markup could hide in.
namespace StatementWords
{

inline bool isPackageName(const QString &text)
{
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9_+][A-Za-z0-9._+-]*$"));
    return name.match(text).hasMatch();
}

inline bool isVersionRelease(const QString &text)
{
    static const QRegularExpression evr(QStringLiteral("^[A-Za-z0-9._+~^]+-[A-Za-z0-9._+~^]+$"));
    return evr.match(text).hasMatch();
}

} // namespace StatementWords
