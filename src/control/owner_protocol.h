#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "session/request.h"

namespace control {

// The lines an owner of a port and its clients say to each other on the local socket. Every
// line is ASCII and ends in a line feed; bytes of the device or the user travel as hex, so
// nothing they hold can break a line.
//
//   owner, on connect:  KOLVANE-OWNER 1 <pid> <program hex> <port text hex>
//   client:             KEY <hotspot> <wait ms> | TEXT <hex> <wait ms> | PROBE <wait ms>
//   owner:              ANSWER <ms> <sent hex> <answer hex>
//                     | NONE <outcome> <ms> <sent hex>
//                     | ERR <reason>             (and the owner hangs up)
inline constexpr std::size_t kMaxLineLength = 512;
// A day: the longest wait kolvane-send takes.
inline constexpr std::int64_t kMaxWaitMs = 24LL * 60 * 60 * 1000;

struct Greeting {
    long long pid = 0;
    std::string program;
    std::string portText;
};

std::string greetingLine(const Greeting& greeting);
std::optional<Greeting> parseGreeting(std::string_view line);

std::string requestLine(const session::Request& request);
// The request a line asks for, or why it is refused.
struct ParsedRequest {
    std::optional<session::Request> request;
    std::string refusal;
};
ParsedRequest parseRequest(std::string_view line);

std::string answerLine(const session::Answer& answer);
std::optional<session::Answer> parseAnswer(std::string_view line);

std::string toHex(std::string_view bytes);
std::optional<std::string> fromHex(std::string_view hex);

}  // namespace control
