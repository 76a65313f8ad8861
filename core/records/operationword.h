#pragma once

#include <QString>

#include <optional>

// The package operations a row starts, queued, reported and listed. Inside the program they
// are this enum, so a switch without a default names every place a new one must be handled.
enum class Operation { Install, QuickInstall, Download, Upgrade, Uninstall, OpenApp };

// The operation words: the Chinese button texts that name each operation everywhere — in
// rows, signals, queued tasks and download records.
namespace OperationWord
{

inline QString install()
{
    return QStringLiteral("安装");
}
inline QString quickInstall()
{
    return QStringLiteral("一键安装");
}
inline QString download()
{
    return QStringLiteral("下载");
}
inline QString upgrade()
{
    return QStringLiteral("升级");
}
inline QString uninstall()
{
    return QStringLiteral("卸载");
}
inline QString openApp()
{
    return QStringLiteral("打开软件");
}

inline QString of(Operation operation)
{
    switch (operation) {
    case Operation::Install:
        return install();
    case Operation::QuickInstall:
        return quickInstall();
    case Operation::Download:
        return download();
    case Operation::Upgrade:
        return upgrade();
    case Operation::Uninstall:
        return uninstall();
    case Operation::OpenApp:
        return openApp();
    }
    return QString();
}

// The operation a word names; none for any other text (an empty button, a word of a newer
// version), which no caller may take for one of ours.
inline std::optional<Operation> parse(const QString &word)
{
    for (Operation operation : {Operation::Install, Operation::QuickInstall, Operation::Download,
                                Operation::Upgrade, Operation::Uninstall, Operation::OpenApp})
        if (word == of(operation))
            return operation;
    return std::nullopt;
}

// The operation's name past the window's edges (report frames, the fleet database): a word
// that is no label, the same in every language.
inline QString key(Operation operation)
{
    switch (operation) {
    case Operation::Install:
        return QStringLiteral("install");
    case Operation::QuickInstall:
        return QStringLiteral("quick-install");
    case Operation::Download:
        return QStringLiteral("download");
    case Operation::Upgrade:
        return QStringLiteral("upgrade");
    case Operation::Uninstall:
        return QStringLiteral("remove");
    case Operation::OpenApp:
        return QStringLiteral("open");
    }
    return QString();
}

// A deferral: no operation of its own but a report that required work waited (an application
// in use). Never counted as an install or a failure; a server before it refuses the report.
inline QString deferral()
{
    return QStringLiteral("推迟");
}
inline QString deferralKey()
{
    return QStringLiteral("defer");
}

// The operation a key names, or the label a store of an earlier version sent in its place.
inline std::optional<Operation> fromKey(const QString &text)
{
    for (Operation operation : {Operation::Install, Operation::QuickInstall, Operation::Download,
                                Operation::Upgrade, Operation::Uninstall, Operation::OpenApp})
        if (text == key(operation))
            return operation;
    return parse(text);
}

} // namespace OperationWord
