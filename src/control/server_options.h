#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "control/net_server.h"

namespace control {

// The server options that the window and kolvane-serve both take:
//   --http [ADDRESS:]PORT   --tcp [ADDRESS:]PORT   --token-file FILE
struct ServerOptions {
    std::optional<ListenAddress> http;
    std::optional<ListenAddress> tcp;
    std::optional<std::string> tokenFile;

    bool any() const { return http || tcp; }
};

// Each of them takes a value.
bool isServerOption(std::string_view name);
// Takes one of the options above into `options`; a mistake goes to `errors`, one line each.
void takeServerOption(std::string_view name, std::string_view value, ServerOptions& options,
                      std::vector<std::string>& errors);

// "[ADDRESS:]PORT": an IPv4 address, an IPv6 address in brackets, or "localhost", then a port
// of 1 to 65535 (0 for any free one). The address is 127.0.0.1 when left out.
std::optional<ListenAddress> parseListenAddress(std::string_view text, std::string& error);

bool isLoopback(const ListenAddress& address);

// The token in a file that belongs to this user and that nobody else may read, without one
// trailing line feed; nothing, with `error` saying why, otherwise.
std::optional<std::string> readTokenFile(const std::string& path, std::string& error);

// The token a token file's text holds: 1 to 256 printable ASCII characters, after one trailing
// line feed (and a carriage return before it) is dropped.
std::optional<std::string> tokenFromText(std::string text, std::string& error);
inline constexpr std::size_t kMaxTokenFileBytes = 4096;

// The settings the servers start with: the token read from its file, which must belong to
// this user and be readable by nobody else (one trailing line feed dropped). Refuses to listen
// beyond loopback without a token. Every mistake goes to `errors`, one line each; nothing is
// opened or bound.
std::optional<ServerSettings> serverSettings(const ServerOptions& options,
                                             std::vector<std::string>& errors);

}  // namespace control
