#pragma once

#include <QString>

// The states of a download record, as the download manager shows them and the local database
// keeps them.
namespace DownloadState
{

inline QString downloading()
{
    return QStringLiteral("正在下载");
}
inline QString downloaded()
{
    return QStringLiteral("下载成功");
}
inline QString installing()
{
    return QStringLiteral("正在安装");
}
inline QString installed()
{
    return QStringLiteral("安装成功");
}
inline QString downloadFailed()
{
    return QStringLiteral("下载失败");
}
inline QString installFailed()
{
    return QStringLiteral("安装失败");
}

} // namespace DownloadState
