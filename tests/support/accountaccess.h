#pragma once

#include <QString>

// What a test that runs something under another account (an id without an account, nobody,
// rabbitmq) can hand to it. Such an account is neither the owner nor in the group of the
// folders root makes, so only the permissions for others let it through.
namespace AccountAccess
{

// The first folder on the way to path, path itself included when it is a folder, that others
// may not enter; empty when every one lets them through.
QString closedFolder(const QString &path);

// Why another account cannot reach path, for a skip or a failure message; empty when it can.
QString whyUnreachable(const QString &path);

} // namespace AccountAccess
