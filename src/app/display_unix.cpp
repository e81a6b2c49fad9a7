#include <cstdlib>
#include <string_view>

#include "app/command_line.h"

namespace app {

namespace {

bool isSet(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

// Qt without a platform chosen, or with xcb, aborts the program when it finds no display to
// connect to; the window's exit status promises 1 with a message instead.
std::optional<std::string> missingDisplay(int argc, const char* const* argv) {
    std::string_view platform = isSet("QT_QPA_PLATFORM") ? std::getenv("QT_QPA_PLATFORM") : "";
    bool displayGiven = isSet("DISPLAY");
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if ((arg == "-platform" || arg == "--platform") && i + 1 < argc) {
            platform = argv[++i];
        } else if (arg == "-display" || arg == "--display") {
            displayGiven = true;
        }
    }
    platform = platform.substr(0, platform.find(':'));  // "xcb:option" names xcb
    if (displayGiven || (platform != "" && platform != "xcb")) {
        return std::nullopt;
    }
    if (platform == "xcb") {
        return "no X display to show the window on: DISPLAY is not set";
    }
    if (isSet("WAYLAND_DISPLAY")) {
        return std::nullopt;
    }
    return "no display to show the window on: neither DISPLAY nor WAYLAND_DISPLAY is set";
}

}  // namespace app
