#include "engine/privileges.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <initializer_list>

namespace Privileges
{

namespace
{

// Several threads look accounts up at once: the reentrant calls, with a buffer of our own.
struct AccountBuffer {
    passwd entry{};
    std::vector<char> text = std::vector<char>(16384);
};

const passwd *byName(const char *name, AccountBuffer *buffer)
{
    passwd *found = nullptr;
    if (getpwnam_r(name, &buffer->entry, buffer->text.data(), buffer->text.size(), &found) != 0)
        return nullptr;
    return found;
}

const passwd *byId(uid_t uid, AccountBuffer *buffer)
{
    passwd *found = nullptr;
    if (getpwuid_r(uid, &buffer->entry, buffer->text.data(), buffer->text.size(), &found) != 0)
        return nullptr;
    return found;
}

// The id in a PKEXEC_UID or SUDO_UID value; false unless it is all decimal digits.
bool parseId(const char *text, uid_t *id)
{
    if (!*text)
        return false;
    unsigned long value = 0;
    for (const char *c = text; *c; ++c) {
        if (*c < '0' || *c > '9')
            return false;
        value = value * 10 + static_cast<unsigned long>(*c - '0');
        if (value > 0xfffffffeUL)
            return false;
    }
    *id = static_cast<uid_t>(value);
    return true;
}

} // namespace

Ids switchToRoot()
{
    Ids ids;
    AccountBuffer buffer;
    const passwd *root = byName("root", &buffer);
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

bool findLoginAccount(const char *login, LoginAccount *account)
{
    AccountBuffer buffer;
    const passwd *found = nullptr;
    if (login && *login) {
        found = byName(login, &buffer);
    } else {
        // Started through pkexec or sudo: the caller's id is passed on in the environment.
        // secure_getenv: a set-uid start must not let its caller name the account.
        const char *text = nullptr;
        for (const char *variable : {"PKEXEC_UID", "SUDO_UID"}) {
            text = secure_getenv(variable);
            if (text)
                break;
        }
        uid_t id = 0;
        if (text && parseId(text, &id))
            found = byId(id, &buffer);
    }
    // Root is never a login user to launch a program as: the store itself runs as root.
    if (!found || found->pw_uid == 0)
        return false;

    account->uid = found->pw_uid;
    account->gid = found->pw_gid;
    account->name = found->pw_name;
    account->home = found->pw_dir ? found->pw_dir : "/";
    int count = 32;
    std::vector<gid_t> groups(static_cast<size_t>(count));
    while (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0)
        groups.resize(static_cast<size_t>(count));
    groups.resize(static_cast<size_t>(count));
    account->groups = groups;
    return true;
}

bool findLoginAccount(LoginAccount *account)
{
    char name[256];
    const bool known = getlogin_r(name, sizeof name) == 0;
    return findLoginAccount(known ? name : nullptr, account);
}

bool dropToLoginUser(const LoginAccount &account)
{
    if (account.uid == 0)
        return false;
    // Without the right to set groups the process has no foreign ones to shed either.
    if (setgroups(account.groups.size(), account.groups.data()) != 0 && geteuid() == 0)
        return false;
    if (setgid(account.gid) != 0 || setuid(account.uid) != 0)
        return false;
    // setgid and setuid have set the real and saved ids as well: setegid after seteuid only
    // confirms the real group, which needs no privilege.
    if (seteuid(account.uid) != 0 || setegid(account.gid) != 0)
        return false;
    // A drop from root that could be undone is no drop.
    if (setuid(0) == 0 || geteuid() != account.uid)
        return false;
    return true;
}

} // namespace Privileges
