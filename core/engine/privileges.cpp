#include "engine/privileges.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>

namespace Privileges
{

Ids switchToRoot()
{
    Ids ids;
    const passwd *root = getpwnam("root");
    if (!root)
        return ids;
    ids.gid = root->pw_gid;
    ids.uid = root->pw_uid;
    // Results are not examined: without the right to switch the tools fail on their own.
    (void)!setgid(ids.gid);
    (void)!setuid(ids.uid);
    (void)!setegid(ids.gid);
    (void)!seteuid(ids.uid);
    return ids;
}

static const passwd *loginAccount()
{
    if (const char *login = getlogin()) {
        if (const passwd *account = getpwnam(login))
            return account;
    }
    // Started through sudo or pkexec: the caller's id is passed on in the environment.
    for (const char *variable : {"PKEXEC_UID", "SUDO_UID"}) {
        if (const char *text = std::getenv(variable)) {
            char *end = nullptr;
            const long id = std::strtol(text, &end, 10);
            if (end != text && *end == '\0' && id >= 0)
                if (const passwd *account = getpwuid(static_cast<uid_t>(id)))
                    return account;
        }
    }
    return getpwuid(getuid());
}

bool dropToLoginUser()
{
    const passwd *account = loginAccount();
    if (!account)
        return false;
    const uid_t uid = account->pw_uid;
    const gid_t gid = account->pw_gid;
    if (initgroups(account->pw_name, gid) != 0 && geteuid() == 0)
        return false;
    if (setgid(gid) != 0 || setuid(uid) != 0)
        return false;
    if (setegid(gid) != 0 || seteuid(uid) != 0)
        return false;
    // A drop from root that could be undone is no drop.
    if (uid != 0 && (setuid(0) == 0 || geteuid() != uid))
        return false;
    return true;
}

} // namespace Privileges
