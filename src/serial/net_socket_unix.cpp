#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

#include "serial/net_socket.h"

namespace serial::net {

namespace {

int fdOf(Handle socket) {
    return static_cast<int>(socket);
}

}  // namespace

bool startUp(std::string* /*failure*/) {
    return true;
}

Handle openStream(int family, int* error) {
    const int fd = ::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        *error = errno;
        return kNoHandle;
    }
    return fd;
}

void closeStream(Handle socket) {
    ::close(fdOf(socket));
}

void keepAlive(Handle socket) {
    const int fd = fdOf(socket);
    const int on = 1;
    const int idleSeconds = 10;
    const int probeSeconds = 5;
    const int probes = 3;
    // Keepalive probes only a connection with nothing unacknowledged; a command sent to a
    // server that has vanished is given up on after as long.
    const unsigned userTimeoutMs = 25000;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    // A Telnet server's urgent byte stays in the stream, where the codec expects it.
    ::setsockopt(fd, SOL_SOCKET, SO_OOBINLINE, &on, sizeof on);
    ::setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idleSeconds, sizeof idleSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &probeSeconds, sizeof probeSeconds);
    ::setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
    ::setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeoutMs, sizeof userTimeoutMs);
}

int startConnect(Handle socket, const sockaddr* address, std::size_t length) {
    if (::connect(fdOf(socket), address, static_cast<socklen_t>(length)) == 0) {
        return 0;
    }
    return errno == EINPROGRESS || errno == EINTR ? kConnecting : errno;
}

int connectOutcome(Handle socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(fdOf(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) {
        return errno;
    }
    return error;
}

int waitFor(Handle socket, int events, int milliseconds) {
    pollfd pfd{fdOf(socket), 0, 0};
    pfd.events = static_cast<short>(((events & kReadable) != 0 ? POLLIN : 0) |
                                    ((events & kWritable) != 0 ? POLLOUT : 0));
    if (::poll(&pfd, 1, milliseconds) <= 0) {
        return 0;
    }
    return ((pfd.revents & POLLIN) != 0 ? kReadable : 0) |
           ((pfd.revents & POLLOUT) != 0 ? kWritable : 0) |
           ((pfd.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0 ? kBroken : 0);
}

Transfer receive(Handle socket, std::uint8_t* buffer, std::size_t max) {
    ssize_t n;
    do {
        n = ::recv(fdOf(socket), buffer, max, 0);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        return {static_cast<std::size_t>(n), false, 0};
    }
    if (n == 0) {
        return {0, true, 0};
    }
    return {0, false, errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno};
}

Transfer send(Handle socket, const std::uint8_t* data, std::size_t count) {
    ssize_t n;
    do {
        n = ::send(fdOf(socket), data, count, MSG_NOSIGNAL);
    } while (n < 0 && errno == EINTR);
    if (n >= 0) {
        return {static_cast<std::size_t>(n), false, 0};
    }
    return {0, false, errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno};
}

std::string errorText(int code) {
    return std::generic_category().message(code);
}

std::string resolveErrorText(int code) {
    return code == EAI_SYSTEM ? errorText(errno) : ::gai_strerror(code);
}

int timedOutCode() {
    return ETIMEDOUT;
}

}  // namespace serial::net
