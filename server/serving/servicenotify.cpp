#include "serving/servicenotify.h"

#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace ServiceNotify
{

bool send(const QByteArray &state)
{
    const char *name = std::getenv("NOTIFY_SOCKET");
    if (!name || !*name)
        return true;
    sockaddr_un address = {};
    address.sun_family = AF_UNIX;
    const size_t length = std::strlen(name);
    if ((name[0] != '/' && name[0] != '@') || length >= sizeof(address.sun_path))
        return false;
    std::memcpy(address.sun_path, name, length);
    // A name starting with '@' is in the abstract namespace.
    if (name[0] == '@')
        address.sun_path[0] = '\0';
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return false;
    const socklen_t size = socklen_t(offsetof(sockaddr_un, sun_path) + length);
    const bool sent = ::sendto(fd, state.constData(), size_t(state.size()), MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr *>(&address), size) == state.size();
    ::close(fd);
    return sent;
}

} // namespace ServiceNotify
