#include "control/owner_protocol.h"

#include <array>
#include <limits>
#include <vector>

#include "remote/key_table.h"

namespace control {

namespace {

using session::Answer;
using session::Request;

constexpr std::string_view kGreeting = "KOLVANE-OWNER";
constexpr std::string_view kVersion = "1";

constexpr std::array<std::pair<Answer::Outcome, std::string_view>, 6> kOutcomeNames = {{
    {Answer::Outcome::Silent, "silent"},
    {Answer::Outcome::Meaningless, "meaningless"},
    {Answer::Outcome::StillSending, "still-sending"},
    {Answer::Outcome::Gone, "gone"},
    {Answer::Outcome::PortClosed, "closed"},
    {Answer::Outcome::Busy, "busy"},
}};

std::vector<std::string_view> words(std::string_view line) {
    std::vector<std::string_view> out;
    while (!line.empty()) {
        const std::size_t space = line.find(' ');
        out.push_back(line.substr(0, space));
        if (space == line.npos) {
            break;
        }
        line.remove_prefix(space + 1);
    }
    return out;
}

std::optional<std::int64_t> number(std::string_view text, std::int64_t max) {
    if (text.empty() || text.size() > 18) {
        return std::nullopt;
    }
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + (c - '0');
    }
    if (value > max) {
        return std::nullopt;
    }
    return value;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

}  // namespace

std::string toHex(std::string_view bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2 + 1);
    for (char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    // An empty field would vanish between two spaces.
    return hex.empty() ? "-" : hex;
}

std::optional<std::string> fromHex(std::string_view hex) {
    if (hex == "-") {
        return std::string();
    }
    if (hex.empty() || hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::string bytes;
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = hexDigit(hex[i]);
        const int low = hexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes += static_cast<char>(high << 4 | low);
    }
    return bytes;
}

std::string greetingLine(const Greeting& greeting) {
    return std::string(kGreeting) + " " + std::string(kVersion) + " " +
           std::to_string(greeting.pid) + " " + toHex(greeting.program) + " " +
           toHex(greeting.portText) + "\n";
}

std::optional<Greeting> parseGreeting(std::string_view line) {
    const auto w = words(line);
    if (w.size() != 5 || w[0] != kGreeting || w[1] != kVersion) {
        return std::nullopt;
    }
    const auto pid = number(w[2], std::numeric_limits<std::int32_t>::max());
    auto program = fromHex(w[3]);
    auto port = fromHex(w[4]);
    if (!pid || !program || !port) {
        return std::nullopt;
    }
    return Greeting{*pid, std::move(*program), std::move(*port)};
}

std::string requestLine(const Request& request) {
    const std::string wait = std::to_string(request.wait.count());
    switch (request.kind) {
        case Request::Kind::Key:
            return "KEY " + std::to_string(request.hotspot) + " " + wait + "\n";
        case Request::Kind::Text:
            return "TEXT " + toHex(request.text) + " " + wait + "\n";
        case Request::Kind::Probe:
            break;
    }
    return "PROBE " + wait + "\n";
}

ParsedRequest parseRequest(std::string_view line) {
    const auto w = words(line);
    if (w.empty()) {
        return {std::nullopt, "empty request"};
    }
    const auto wait = number(w.back(), kMaxWaitMs);
    if (w.size() < 2 || !wait || *wait < 1) {
        return {std::nullopt,
                "a request ends in its wait, 1 to " + std::to_string(kMaxWaitMs) + " ms"};
    }
    Request request;
    request.wait = std::chrono::milliseconds(*wait);
    if (w[0] == "KEY" && w.size() == 3) {
        const auto hotspot = number(w[1], remote::kHotspotCount);
        if (!hotspot || *hotspot < 1 || remote::keyByHotspot(int(*hotspot)).isReserved()) {
            return {std::nullopt, "no key with a command is numbered " + std::string(w[1])};
        }
        request.kind = Request::Kind::Key;
        request.hotspot = int(*hotspot);
    } else if (w[0] == "TEXT" && w.size() == 3) {
        auto text = fromHex(w[1]);
        if (!text || text->empty() || text->size() >= remote::CommandFrame::kSize) {
            return {std::nullopt, "a typed command is 1 to 4 bytes in hex"};
        }
        request.kind = Request::Kind::Text;
        request.text = std::move(*text);
    } else if (w[0] == "PROBE" && w.size() == 2) {
        request.kind = Request::Kind::Probe;
    } else {
        return {std::nullopt, "unknown request"};
    }
    return {request, {}};
}

std::string answerLine(const Answer& answer) {
    const std::string ms = std::to_string(answer.ms.count());
    if (answer.outcome == Answer::Outcome::Answered) {
        return "ANSWER " + ms + " " + toHex(answer.sent) + " " + toHex(answer.text) + "\n";
    }
    std::string_view name = "silent";
    for (const auto& [outcome, text] : kOutcomeNames) {
        if (outcome == answer.outcome) {
            name = text;
        }
    }
    return "NONE " + std::string(name) + " " + ms + " " + toHex(answer.sent) + "\n";
}

std::optional<Answer> parseAnswer(std::string_view line) {
    const auto w = words(line);
    Answer answer;
    if (w.size() == 4 && w[0] == "ANSWER") {
        auto sent = fromHex(w[2]);
        auto text = fromHex(w[3]);
        const auto ms = number(w[1], kMaxWaitMs * 2);
        if (!sent || !text || !ms) {
            return std::nullopt;
        }
        return Answer{Answer::Outcome::Answered, std::move(*text), std::chrono::milliseconds(*ms),
                      std::move(*sent)};
    }
    if (w.size() == 4 && w[0] == "NONE") {
        auto sent = fromHex(w[3]);
        const auto ms = number(w[2], kMaxWaitMs * 2);
        if (!sent || !ms) {
            return std::nullopt;
        }
        for (const auto& [outcome, text] : kOutcomeNames) {
            if (w[1] == text) {
                return Answer{outcome, {}, std::chrono::milliseconds(*ms), std::move(*sent)};
            }
        }
    }
    return std::nullopt;
}

}  // namespace control
