#include "serve/serve_options.h"

#include <optional>

#include "cli/option_reading.h"

namespace serve {

using cli::baudValue;
using cli::quoted;
using cli::readOption;

namespace {

bool takesValue(std::string_view option) {
    return option == "--port" || option == "--baud" || control::isServerOption(option);
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string_view>& args) {
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    std::vector<std::string>& errors = parsed.errors;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (arg.empty() || arg[0] != '-') {
            errors.push_back("unexpected argument " + quoted(arg) +
                             " (the port goes after --port)");
            continue;
        }
        std::optional<std::string_view> value;
        if (!readOption(args, i, arg, value, takesValue, errors)) {
            continue;
        }
        if (arg == "--help" || arg == "-h") {
            options.action = Options::Action::Help;
            errors.clear();
            return parsed;
        } else if (arg == "--version") {
            options.action = Options::Action::Version;
            errors.clear();
            return parsed;
        } else if (arg == "--port") {
            if (value->empty()) {
                errors.push_back("--port: the name is empty");
            }
            options.port = std::string(*value);
        } else if (arg == "--baud") {
            options.baud = baudValue(*value, errors).value_or(options.baud);
        } else if (arg == "--no-retry") {
            options.retry = false;
        } else if (control::isServerOption(arg)) {
            control::takeServerOption(arg, *value, options.servers, errors);
        } else {
            errors.push_back("unknown option " + std::string(arg));
        }
    }
    return parsed;
}

std::string usageText() {
    return "usage: kolvane-serve [--port NAME] [--baud N] [--no-retry] [--http [ADDRESS:]PORT]\n"
           "                     [--tcp [ADDRESS:]PORT] [--token-file FILE]\n"
           "\n"
           "Holds the quad-view device's serial port without a window and serves it to\n"
           "kolvane-send and other local programs, as the Kolvane Remote window does while\n"
           "its port is switched on. A port that is missing or goes away is tried again\n"
           "every 2 seconds; each change is said once on standard error. SIGTERM or SIGINT\n"
           "(Ctrl+C) closes the port and ends the program.\n"
           "\n"
           "  --port NAME    the port: a device path, COMn or a comN alias, or a serial\n"
           "                 server's socket://HOST:PORT or rfc2217://HOST:PORT (default COM6)\n"
           "  --baud N       the line's speed (default 9600)\n"
           "  --no-retry     end at once when the port does not open, or goes away\n"
           "  --http [ADDRESS:]PORT\n"
           "                 serve the remote over HTTP and WebSocket (address 127.0.0.1\n"
           "                 unless given)\n"
           "  --tcp [ADDRESS:]PORT\n"
           "                 serve the remote as text lines over TCP\n"
           "  --token-file FILE\n"
           "                 want the token in FILE from every caller; needed to listen on\n"
           "                 any address but this computer's own\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n"
           "\n"
           "Exit status: 0 stopped by a signal, 1 the port went away (with --no-retry),\n"
           "2 a wrong command line, 3 the port did not open (with --no-retry).\n";
}

}  // namespace serve
