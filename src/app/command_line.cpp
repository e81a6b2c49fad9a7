#include "app/command_line.h"

#include <string_view>

#include "version.h"

namespace app {

namespace {

constexpr std::string_view kHelp =
    "Usage: kolvane [--port NAME [--on]] [--http [ADDRESS:]PORT] [--tcp [ADDRESS:]PORT]\n"
    "               [--token-file FILE] [QT-OPTION...]\n"
    "       kolvane --help | --version\n"
    "\n"
    "An on-screen remote control for a quad-view video device on an RS-232 serial line.\n"
    "Type the port into the box beside \"Search Device >>\" and click \"RS232 OFF\" to open\n"
    "it; a click on a key of the pictured remote sends that key's command, and what the\n"
    "device answers is logged beside the picture.\n"
    "\n"
    "  --port NAME    start with NAME in the port box instead of COM6\n"
    "  --on           switch the port on at the start, as a click on the switch does\n"
    "  --http [ADDRESS:]PORT\n"
    "                 serve the remote over HTTP and WebSocket (address 127.0.0.1 unless\n"
    "                 given)\n"
    "  --tcp [ADDRESS:]PORT\n"
    "                 serve the remote as text lines over TCP\n"
    "  --token-file FILE\n"
    "                 want the token in FILE from every caller; needed to listen on any\n"
    "                 address but this computer's own\n"
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

StartRequest takeStartRequest(int& argc, char** argv) {
    StartRequest request;
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--on") {
            request.switchOn = true;
        } else if (arg == "--port" || arg.substr(0, 7) == "--port=") {
            // No port's name starts with a dash: that is the next option, or Qt's.
            std::string_view name;
            if (arg != "--port") {
                name = arg.substr(7);
            } else if (i + 1 < argc && argv[i + 1][0] != '-') {
                name = argv[++i];
            }
            if (name.empty()) {
                request.errors.push_back("--port needs a port name");
            }
            request.port = std::string(name);
        } else if (arg.substr(0, 5) == "--on=") {
            request.errors.push_back("--on takes no value");
        } else if (const auto equals = arg.find('=');
                   control::isServerOption(arg.substr(0, equals))) {
            const std::string_view name = arg.substr(0, equals);
            std::string_view value;
            if (equals != std::string_view::npos) {
                value = arg.substr(equals + 1);
            } else if (i + 1 < argc && argv[i + 1][0] != '-') {
                value = argv[++i];
            }
            if (value.empty()) {
                request.errors.push_back(std::string(name) + " needs a value");
            } else {
                control::takeServerOption(name, value, request.servers, request.errors);
            }
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return request;
}

}  // namespace app
