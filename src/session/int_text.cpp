#include "session/int_text.h"

#include <limits>

namespace session {

namespace {
int digitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9') {
        v = c - '0';
    } else if (c >= 'a' && c <= 'f') {
        v = c - 'a' + 10;
    } else if (c >= 'A' && c <= 'F') {
        v = c - 'A' + 10;
    }
    return v < base ? v : -1;
}

bool startsWithNoCase(std::string_view s, std::string_view prefix) {
    if (s.size() < prefix.size()) {
        return false;
    }
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        const char c = (s[i] >= 'A' && s[i] <= 'Z') ? char(s[i] - 'A' + 'a') : s[i];
        if (c != prefix[i]) {
            return false;
        }
    }
    return true;
}
}  // namespace

std::int32_t textToInt(std::string_view text) {
    const auto fail = [&text]() {
        return ConvertError("'" + std::string(text) + "' is not a valid integer value");
    };
    std::string_view rest = text;
    while (!rest.empty() && rest.front() == ' ') {
        rest.remove_prefix(1);
    }
    bool negative = false;
    if (!rest.empty() && (rest.front() == '+' || rest.front() == '-')) {
        negative = rest.front() == '-';
        rest.remove_prefix(1);
    }
    int base = 10;
    if (startsWithNoCase(rest, "0x")) {
        base = 16;
        rest.remove_prefix(2);
    } else if (!rest.empty() &&
               (rest.front() == '$' || rest.front() == 'x' || rest.front() == 'X')) {
        base = 16;
        rest.remove_prefix(1);
    }
    if (rest.empty()) {
        throw fail();
    }
    // Magnitude up to 2^31, the largest a negative value may have.
    constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (char c : rest) {
        const int d = digitValue(c, base);
        if (d < 0) {
            throw fail();
        }
        magnitude = magnitude * base + d;
        if (magnitude > kLimit) {
            throw fail();
        }
    }
    if (!negative && magnitude == kLimit) {
        throw fail();
    }
    return static_cast<std::int32_t>(negative ? -magnitude : magnitude);
}

}  // namespace session
