#include "sim_options.h"

#include <cstdint>

#include "serial/port_name.h"
#include "sim_logic.h"

namespace sim {

namespace {

// A day: longer waits are typing mistakes, and the bound keeps time arithmetic far from
// overflow.
constexpr std::uint64_t kMaxMilliseconds = 24ull * 60 * 60 * 1000;

// The number in `text`, or an error message naming `option`.
std::optional<std::uint64_t> parseNumber(std::string_view option, std::string_view text,
                                         std::uint64_t min, std::uint64_t max, std::string& error) {
    if (!text.empty() && text[0] == '-') {
        error = std::string(option) + ": must not be negative: " + std::string(text);
        return std::nullopt;
    }
    if (text.empty() || text.find_first_not_of("0123456789") != std::string_view::npos) {
        error = std::string(option) + ": not a number: \"" + std::string(text) + "\"";
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (char c : text) {
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > max) {
            error = std::string(option) + ": at most " + std::to_string(max);
            return std::nullopt;
        }
    }
    if (value < min) {
        error = std::string(option) + ": at least " + std::to_string(min);
        return std::nullopt;
    }
    return value;
}

ParsedOptions usageError(std::string message) {
    ParsedOptions parsed;
    parsed.action = ParsedOptions::Action::UsageError;
    parsed.error = std::move(message);
    return parsed;
}

}  // namespace

ParsedOptions parseOptions(const std::vector<std::string_view>& args) {
    ParsedOptions parsed;
    Options& options = parsed.options;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view name = args[i];
        std::optional<std::string_view> inlineValue;
        if (const auto eq = name.find('='); name.substr(0, 2) == "--" && eq != name.npos) {
            inlineValue = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        const bool takesValue =
            name == "--as" || name == "--delay" || name == "--flood" || name == "--vanish-after";
        if (!takesValue && inlineValue) {
            return usageError(std::string(name) + " takes no value");
        }
        std::string_view value;
        if (takesValue) {
            if (inlineValue) {
                value = *inlineValue;
            } else if (i + 1 < args.size()) {
                value = args[++i];
            } else {
                return usageError(std::string(name) + " needs a value");
            }
        }

        std::string error;
        if (name == "--help" || name == "-h") {
            parsed.action = ParsedOptions::Action::Help;
            return parsed;
        } else if (name == "--version") {
            parsed.action = ParsedOptions::Action::Version;
            return parsed;
        } else if (name == "--silent") {
            options.silent = true;
        } else if (name == "--garbage") {
            options.garbage = true;
        } else if (name == "--show-line") {
            options.showLine = true;
        } else if (name == "--as") {
            options.comPort = serial::comPortNumber(value);
            if (!options.comPort) {
                return usageError("--as: not a port name of the form COMn: \"" +
                                  std::string(value) + "\"");
            }
        } else if (name == "--delay") {
            const auto ms = parseNumber(name, value, 0, kMaxMilliseconds, error);
            if (!ms) {
                return usageError(error);
            }
            options.delay = std::chrono::milliseconds(*ms);
        } else if (name == "--vanish-after") {
            const auto ms = parseNumber(name, value, 0, kMaxMilliseconds, error);
            if (!ms) {
                return usageError(error);
            }
            options.vanishAfter = std::chrono::milliseconds(*ms);
        } else if (name == "--flood") {
            const auto rate = parseNumber(name, value, 1, FloodSource::kMaxBytesPerSecond, error);
            if (!rate) {
                return usageError(error);
            }
            options.floodBytesPerSecond = static_cast<std::uint32_t>(*rate);
        } else if (name.substr(0, 1) == "-") {
            return usageError("unknown option " + std::string(name));
        } else {
            return usageError("unexpected argument \"" + std::string(name) + "\"");
        }
    }
    if (options.silent && options.garbage) {
        return usageError("--silent and --garbage contradict each other");
    }
    return parsed;
}

std::string usageText(std::string_view program) {
    const std::string p(program);
    return "usage: " + p +
           " [--as COMn] [--silent | --garbage] [--delay MS] [--flood BYTES_PER_SEC]\n"
           "       [--vanish-after MS] [--show-line]\n"
           "\n"
           "A virtual quad-view device on a pseudo-terminal. Prints the terminal's path,\n"
           "then one line for every frame received and every answer sent.\n"
           "\n"
           "  --as COMn             register the terminal as port COMn for kolvane (an alias\n"
           "                        in $XDG_CONFIG_HOME/kolvane/ports, removed on exit)\n"
           "  --silent              never answer\n"
           "  --garbage             answer every frame with a few random bytes\n"
           "  --delay MS            answer MS milliseconds late\n"
           "  --flood BYTES_PER_SEC send text lines without pause at that rate\n"
           "                        (11520 fills a 115200-baud line)\n"
           "  --vanish-after MS     close the terminal after MS milliseconds and exit\n"
           "  --show-line           print the line's settings, such as \"line 9600 8N1\", at\n"
           "                        start and whenever the program at the other end\n"
           "                        changes them\n"
           "  --help                show this and exit\n"
           "  --version             show the version and exit\n"
           "\n"
           "Answers are at least 250 ms apart, so that each arrives as a message of its own.\n"
           "Stop with Ctrl-C.\n";
}

}  // namespace sim
