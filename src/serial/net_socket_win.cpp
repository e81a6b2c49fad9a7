#include "serial/net_socket.h"

#include <mstcpip.h>
#include <windows.h>

namespace serial::net {

namespace {

SOCKET socketOf(Handle socket) {
    return static_cast<SOCKET>(socket);
}

}  // namespace

bool startUp(std::string* failure) {
    // Winsock counts its users; this one stays for the life of the process.
    static const int started = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data);
    }();
    if (started != 0 && failure != nullptr) {
        *failure = errorText(started);
    }
    return started == 0;
}

Handle openStream(int family, int* error) {
    const SOCKET s =
        ::WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        *error = ::WSAGetLastError();
        return kNoHandle;
    }
    u_long nonBlocking = 1;
    if (::ioctlsocket(s, FIONBIO, &nonBlocking) != 0) {
        *error = ::WSAGetLastError();
        ::closesocket(s);
        return kNoHandle;
    }
    return static_cast<Handle>(s);
}

void closeStream(Handle socket) {
    ::closesocket(socketOf(socket));
}

void keepAlive(Handle socket) {
    const SOCKET s = socketOf(socket);
    const BOOL on = TRUE;
    ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);
    // A Telnet server's urgent byte stays in the stream, where the codec expects it.
    ::setsockopt(s, SOL_SOCKET, SO_OOBINLINE, reinterpret_cast<const char*>(&on), sizeof on);
    // Windows sends ten probes: after 10 s of quiet, one a second.
    tcp_keepalive values{1, 10000, 1000};
    DWORD returned = 0;
    ::WSAIoctl(s, SIO_KEEPALIVE_VALS, &values, sizeof values, nullptr, 0, &returned, nullptr,
               nullptr);
}

int startConnect(Handle socket, const sockaddr* address, std::size_t length) {
    if (::connect(socketOf(socket), address, static_cast<int>(length)) == 0) {
        return 0;
    }
    const int error = ::WSAGetLastError();
    return error == WSAEWOULDBLOCK || error == WSAEINPROGRESS ? kConnecting : error;
}

int connectOutcome(Handle socket) {
    int error = 0;
    int length = sizeof error;
    if (::getsockopt(socketOf(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &length) != 0) {
        return ::WSAGetLastError();
    }
    return error;
}

// select, not WSAPoll: older WSAPoll never reports a connect that failed.
int waitFor(Handle socket, int events, int milliseconds) {
    const SOCKET s = socketOf(socket);
    fd_set readable;
    fd_set writable;
    fd_set broken;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&broken);
    if ((events & kReadable) != 0) {
        FD_SET(s, &readable);
    }
    if ((events & kWritable) != 0) {
        FD_SET(s, &writable);
    }
    FD_SET(s, &broken);
    timeval timeout{milliseconds / 1000, (milliseconds % 1000) * 1000};
    if (::select(0, &readable, &writable, &broken, &timeout) <= 0) {
        return 0;
    }
    return (FD_ISSET(s, &readable) ? kReadable : 0) | (FD_ISSET(s, &writable) ? kWritable : 0) |
           (FD_ISSET(s, &broken) ? kBroken : 0);
}

Transfer receive(Handle socket, std::uint8_t* buffer, std::size_t max) {
    const int wanted = static_cast<int>(max < 0x10000 ? max : 0x10000);
    const int n = ::recv(socketOf(socket), reinterpret_cast<char*>(buffer), wanted, 0);
    if (n > 0) {
        return {static_cast<std::size_t>(n), false, 0};
    }
    if (n == 0) {
        return {0, true, 0};
    }
    const int error = ::WSAGetLastError();
    return {0, false, error == WSAEWOULDBLOCK ? 0 : error};
}

Transfer send(Handle socket, const std::uint8_t* data, std::size_t count) {
    const int wanted = static_cast<int>(count < 0x10000 ? count : 0x10000);
    const int n = ::send(socketOf(socket), reinterpret_cast<const char*>(data), wanted, 0);
    if (n >= 0) {
        return {static_cast<std::size_t>(n), false, 0};
    }
    const int error = ::WSAGetLastError();
    return {0, false, error == WSAEWOULDBLOCK ? 0 : error};
}

std::string errorText(int code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message(text != nullptr ? text : "", length);
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\r' || message.back() == '\n')) {
        message.pop_back();
    }
    return message.empty() ? "error " + std::to_string(code) : message;
}

std::string resolveErrorText(int code) {
    return errorText(code);
}

int timedOutCode() {
    return WSAETIMEDOUT;
}

}  // namespace serial::net
