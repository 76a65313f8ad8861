#include "bench/support/loopbackconnect.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

int connectFrom(const QString &from, unsigned short port)
{
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    inet_pton(AF_INET, from.toLatin1().constData(), &sa.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
        if (fd >= 0)
            close(fd);
        return -1;
    }
    sa.sin_port = htons(port);
    inet_pton(AF_INET, "127.0.0.2", &sa.sin_addr);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0)
        return fd;
    close(fd);
    return -1;
}
