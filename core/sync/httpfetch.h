#pragma once

#include <QString>

// The wget commands of the catalog load. Each is bounded (connect and read timeout, two
// tries) so that a silent server cannot hold the caller; the GUI thread runs one of them.
namespace HttpFetch
{

// "wget -O TARGET URL" with the bounds; both values quoted for the shell.
QString command(const QString &target, const QString &url);

// Runs a command from command(); true when wget reported success.
bool run(const QString &command);

} // namespace HttpFetch
