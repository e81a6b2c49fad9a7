#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "serial/serial_device.h"

namespace serial {

// A serial port that a server on the network offers: socket://HOST:PORT carries bytes as
// they are, rfc2217://HOST:PORT speaks Telnet with port control.
struct NetworkPort {
    enum class Protocol { Raw, Rfc2217 };
    Protocol protocol = Protocol::Raw;
    std::string host;  // a name, or an address (an IPv6 one without its brackets)
    std::string service;
};

// Whether a port name asks for the network, by its scheme (in any case).
bool isNetworkPortName(std::string_view name);

// The server a network port name leads to; nothing when the name after the scheme is not
// HOST:PORT with a port from 1 to 65535.
std::optional<NetworkPort> parseNetworkPort(std::string_view name);

// One spelling for every name of the same server port, either protocol and any case; nothing
// for a name that is not a network port.
std::optional<std::string> networkPortIdentity(std::string_view name);

// Resolves and connects within SerialDevice::kConnectBound, calling `whileWaiting` meanwhile;
// for rfc2217 also waits for the server to take port control.
OpenResult openNetworkDevice(const std::string& name, const WhileWaiting& whileWaiting);

}  // namespace serial
