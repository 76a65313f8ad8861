#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

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

// The account a launched program runs as, looked up in full before a fork: the child of a
// threaded process must not ask the name service.
struct LoginAccount {
    uid_t uid = 0;
    gid_t gid = 0;
    std::string name;
    std::string home;
    std::vector<gid_t> groups; // supplementary groups
};

// The user who started the store: the login name (login), else PKEXEC_UID, else SUDO_UID;
// the first of them that is there decides. False for root, for an id without an account and
// when none is there: nothing may be launched then.
bool findLoginAccount(const char *login, LoginAccount *account);
// The same with getlogin().
bool findLoginAccount(LoginAccount *account);

// Drops the calling process for good to the account; only system calls, so it may run in
// the child of a fork. False when any step failed: the caller must not go on then.
bool dropToLoginUser(const LoginAccount &account);

} // namespace Privileges
