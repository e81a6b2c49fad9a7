#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "remote/key_table.h"

namespace cli {

// One frame to send, and what to call it in the output: a key of the remote, or a command
// as typed.
struct Command {
    std::string label;
    remote::CommandFrame frame;
    int hotspot = 0;   // the key's, or 0 for a typed command
    std::string text;  // the typed command
};

struct Options {
    enum class Action { Send, Search, Status, ListKeys, Help, Version };
    Action action = Action::Send;
    std::string port = "COM6";  // the window's default
    std::int32_t baud = 9600;   // likewise
    std::chrono::milliseconds wait{300};
    bool json = false;
    std::vector<Command> commands;
};

// The options, or every mistake on the command line, one line each. Keys are checked here,
// so a command line with any bad key is refused before a port is touched.
struct ParsedCommandLine {
    Options options;
    std::vector<std::string> errors;
};

ParsedCommandLine parseCommandLine(const std::vector<std::string_view>& args);

std::string usageText();

}  // namespace cli
