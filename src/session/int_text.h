#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace session {

class ConvertError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Converts a whole text to a signed 32-bit integer: leading blanks, an optional sign, then
// decimal digits, or hexadecimal digits after "$", "x" or "0x". Nothing may follow.
// Throws ConvertError "'<text>' is not a valid integer value" otherwise.
std::int32_t textToInt(std::string_view text);

}  // namespace session
