#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace cli {

// Runs the window's device search over COM1..COM20 to its end, with the same probes and
// timing. The port the device answered on, or nothing.
std::optional<std::string> searchForDevice(std::int32_t baud);

}  // namespace cli
