#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "control/server_options.h"

namespace serve {

struct Options {
    enum class Action { Serve, Help, Version };
    Action action = Action::Serve;
    std::string port = "COM6";  // as kolvane-send and the window
    std::int32_t baud = 9600;
    bool retry = true;
    control::ServerOptions servers;
};

// The options, or every mistake on the command line, one line each.
struct ParsedCommandLine {
    Options options;
    std::vector<std::string> errors;
};

ParsedCommandLine parseCommandLine(const std::vector<std::string_view>& args);

std::string usageText();

}  // namespace serve
