#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace control {

// One request of the HTTP API or of a TCP line, checked and with its key found, before it
// reaches the session.
struct ApiRequest {
    enum class Kind { State, Keys, Key, Text, Port, Search, Watch };
    static constexpr std::chrono::milliseconds kDefaultWait{300};
    static constexpr std::chrono::milliseconds kMaxWait{5000};

    Kind kind = Kind::State;
    int hotspot = 0;                                // Key
    std::string text;                               // Text: the command as typed
    bool open = false;                              // Port
    std::chrono::milliseconds wait = kDefaultWait;  // Key and Text
};

// A request, or why not: the HTTP status that says so (400, 404, 405, 413…) and a reason in
// plain words; for a key that was not found, the names it may have meant.
struct ParsedApiRequest {
    std::optional<ApiRequest> request;
    unsigned status = 0;
    std::string refusal;
    std::vector<std::string_view> names;
    // Refused although it was a request (the reserved key): a caller that sent it is no
    // stranger to the API, and may go on.
    bool wellFormed = false;
};

// An HTTP request to /api/v1/…: the method, the target as sent (query included) and the
// body. GET /api/v1/events is the WebSocket's, taken before this.
ParsedApiRequest parseHttpRequest(std::string_view method, std::string_view target,
                                  std::string_view body);

// A TCP line, its line feed (and a carriage return before it) already taken off: a key as
// kolvane-send takes it, "text CMD", "on", "off", "search", "state" or "watch".
ParsedApiRequest parseLine(std::string_view line);

// A decimal number of one to five digits, no sign, at most `max`; nothing otherwise.
std::optional<unsigned long> wholeNumber(std::string_view digits, unsigned long max);

// Every %XX turned into its byte, once; nothing for a broken escape.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace control
