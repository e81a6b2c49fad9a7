#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// Command-line words both console programs read the same way.

std::string quoted(std::string_view text);

// A speed above 0, or nothing with the reason added to `errors`.
std::optional<std::int32_t> baudValue(std::string_view text, std::vector<std::string>& errors);

// Reads the option at args[i] ("--name", "--name=value" or "--name value"): its name into
// `name`, and its value, when `takesValue` says it has one, into `value`, moving `i` past it.
// False when the option is to be skipped (the reason is in `errors`); `i` is then past the
// end if nothing more can be read.
bool readOption(const std::vector<std::string_view>& args, std::size_t& i, std::string_view& name,
                std::optional<std::string_view>& value, bool (*takesValue)(std::string_view),
                std::vector<std::string>& errors);

}  // namespace cli
