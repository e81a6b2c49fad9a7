// Integer text against a reference that checks the grammar first and leaves the arithmetic
// to strtoull.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "session/int_text.h"

namespace {

bool isDigitIn(char c, int base) {
    if (c >= '0' && c <= '9') {
        return true;
    }
    return base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
}

std::optional<std::int32_t> reference(const std::string& text) {
    std::size_t i = text.find_first_not_of(' ');
    if (i == std::string::npos) {
        return std::nullopt;
    }
    bool negative = false;
    if (text[i] == '+' || text[i] == '-') {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) {
        base = 16;
        i += 2;
    } else if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    }
    std::string digits = text.substr(i);
    if (digits.empty()) {
        return std::nullopt;
    }
    for (char c : digits) {
        if (!isDigitIn(c, base)) {
            return std::nullopt;
        }
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(digits.c_str(), nullptr, base);
    if (errno == ERANGE || magnitude > (1ULL << 31)) {
        return std::nullopt;
    }
    const long long value =
        negative ? -static_cast<long long>(magnitude) : static_cast<long long>(magnitude);
    if (value > INT32_MAX) {
        return std::nullopt;
    }
    return static_cast<std::int32_t>(value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const std::optional<std::int32_t> expected = reference(text);
    try {
        const std::int32_t got = session::textToInt(text);
        FUZZ_CHECK(expected.has_value());
        FUZZ_CHECK(got == *expected);
    } catch (const session::ConvertError& e) {
        FUZZ_CHECK(!expected.has_value());
        // what() is a C string: a NUL typed into the text ends the message there.
        const std::string message = "'" + text + "' is not a valid integer value";
        FUZZ_CHECK(std::string(e.what()) == message.substr(0, message.find('\0')));
    }
    return 0;
}
