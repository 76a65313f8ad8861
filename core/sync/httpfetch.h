#pragma once

#include <QString>

// The wget commands of the catalog load. Each is bounded in time (connect and read timeout,
// two tries) so that a silent server cannot hold the caller, and in size: wget's --quota does
// not apply to a single file, so the file size limit of the command's shell (ulimit -f) stops
// wget once the file would grow past its bound. The GUI thread runs one of them.
namespace HttpFetch
{

// An icon: the bound of what is ever decoded.
constexpr qint64 MaxIconBytes = 1024 * 1024;
// The catalog and push files: the largest frame with its newline, times 1024 frames (a
// catalog of some 50,000 packages), unless client-config says otherwise.
constexpr qint64 DefaultMaxFileBytes = (65535 + 1) * 1024;

// client-config's key (max_catalog_file, max_push_file) when a positive number of bytes,
// rounded up to whole 512-byte blocks; DefaultMaxFileBytes otherwise.
qint64 configuredBound(const char *key);

// "wget -O TARGET URL" with the bounds, maxBytes a multiple of 512; both values quoted for
// the shell.
QString command(const QString &target, const QString &url, qint64 maxBytes);

// One wget for every URL listed in the file urlList (one a line), each saved under its own
// name in directory, each file bounded by maxBytes.
QString listCommand(const QString &directory, const QString &urlList, qint64 maxBytes);

// Runs a command from command() or listCommand(); true when wget reported success. A
// download cut at its bound is removed (target, when given), with one line; *cut tells it.
bool run(const QString &command, const QString &target, bool *cut = nullptr);

} // namespace HttpFetch
