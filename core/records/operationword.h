#pragma once

#include <QString>

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

} // namespace OperationWord
