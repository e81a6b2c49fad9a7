#pragma once

// The few socket calls whose spelling differs between platforms, for the network ports.
// Errors are the platform's codes (errno, or WSAGetLastError on Windows).

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netdb.h>
#include <sys/socket.h>
#endif

#include <cstddef>
#include <cstdint>
#include <string>

namespace serial::net {

using Handle = std::intptr_t;
inline constexpr Handle kNoHandle = -1;

// Readiness, as waitFor reports it.
inline constexpr int kReadable = 1;
inline constexpr int kWritable = 2;
inline constexpr int kBroken = 4;  // hung up or in error

// Once per process before any other call; false, with the reason, when sockets are unusable.
bool startUp(std::string* failure);

// A TCP socket of `family` that never blocks, is not inherited by child programs and raises
// no signal when the far end has gone.
Handle openStream(int family, int* error);
void closeStream(Handle socket);

// Sends at once what little is written (a command is five bytes) and probes a quiet
// connection, so that a server that is switched off is found gone within about 30 s.
void keepAlive(Handle socket);

// 0 once connected, kConnecting while under way, otherwise the error.
inline constexpr int kConnecting = -1;
int startConnect(Handle socket, const sockaddr* address, std::size_t length);
// The outcome of a connect that was under way and has become writable: 0 or the error.
int connectOutcome(Handle socket);

// Waits up to `milliseconds` for any of `events`; the readiness found (0 when none).
int waitFor(Handle socket, int events, int milliseconds);

// What one receive or send came to.
struct Transfer {
    std::size_t bytes = 0;
    bool closed = false;  // receive only: the far end has closed the connection
    int error = 0;        // set when the socket is broken
};
Transfer receive(Handle socket, std::uint8_t* buffer, std::size_t max);
Transfer send(Handle socket, const std::uint8_t* data, std::size_t count);

// The system's words for an error code, and for a name-resolution code.
std::string errorText(int code);
std::string resolveErrorText(int code);
int timedOutCode();

}  // namespace serial::net
