#pragma once

#include <QString>

// The client configuration file, section client-conf. Every call loads the file anew, so an
// edit takes effect at the next use; a missing file or key reads as an empty text.
namespace ClientConfig
{

QString value(const char *key);

inline QString refresh()
{
    return value("refresh");
}
inline QString pkgpath()
{
    return value("pkgpath");
}
inline QString localip()
{
    return value("localip");
}
inline QString serverip()
{
    return value("serverip");
}
inline QString vqssend()
{
    return value("vqssend");
}
inline QString iconurl()
{
    return value("iconurl");
}
inline QString group()
{
    return value("group");
}

} // namespace ClientConfig
