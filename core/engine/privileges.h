#pragma once

#include <sys/types.h>

// The only places where the process changes its credentials.
namespace Privileges
{

struct Ids {
    gid_t gid = 0;
    uid_t uid = 0;
};

// Switches the whole process to the account "root" (group, user, then the effective ids).
// Does nothing when the account cannot be looked up. Returns the ids it set.
Ids switchToRoot();

// Drops the calling process for good to the account that started the store: the login
// name, else SUDO_UID/PKEXEC_UID, else the real user id. Supplementary groups are reset
// first. False when any step failed: the caller must not go on with its command then.
bool dropToLoginUser();

} // namespace Privileges
