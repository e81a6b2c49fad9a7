#include "app/command_line.h"

#include <string_view>

#include "version.h"

namespace app {

namespace {

constexpr std::string_view kHelp =
    "Usage: kolvane [QT-OPTION...]\n"
    "       kolvane --help | --version\n"
    "\n"
    "An on-screen remote control for a quad-view video device on an RS-232 serial line.\n"
    "Type the port into the box beside \"Search Device >>\" and click \"RS232 OFF\" to open\n"
    "it; a click on a key of the pictured remote sends that key's command, and what the\n"
    "device answers is logged beside the picture.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "\n"
    "Qt's own options, such as -platform NAME or -style NAME, are accepted as well.\n";

}  // namespace

std::optional<std::string> informationRequested(int argc, const char* const* argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return std::string(kHelp);
        }
        if (arg == "--version") {
            return std::string("kolvane " KOLVANE_VERSION "\n");
        }
    }
    return std::nullopt;
}

}  // namespace app
