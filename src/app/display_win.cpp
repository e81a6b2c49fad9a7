#include "app/command_line.h"

namespace app {

// A Windows program always has a desktop to show its window on.
std::optional<std::string> missingDisplay(int, const char* const*) {
    return std::nullopt;
}

}  // namespace app
