#include "cli/send_options.h"

#include <optional>

#include "cli/option_reading.h"
#include "remote/key_lookup.h"

namespace cli {

namespace {

// A day: anything longer is a typing mistake, and the bound keeps time arithmetic far from
// overflow.
constexpr std::int64_t kMaxWaitMs = 24LL * 60 * 60 * 1000;

std::string joined(const std::vector<std::string_view>& names) {
    std::string text;
    for (std::string_view name : names) {
        text += (text.empty() ? "" : ", ") + std::string(name);
    }
    return text;
}

// The key a KEY word names, or why it names none.
std::optional<Command> keyCommand(std::string_view word, std::vector<std::string>& errors) {
    const remote::KeyLookup lookup = remote::lookUpKey(word);
    switch (lookup.result) {
        case remote::KeyLookup::Result::Ambiguous:
            errors.push_back("key " + quoted(word) + " could be any of " + joined(lookup.names));
            return std::nullopt;
        case remote::KeyLookup::Result::Unknown:
            errors.push_back("unknown key " + quoted(word) +
                             (lookup.names.empty() ? "; the keys are " + remote::kKeyNumbers
                                                   : "; nearest: " + joined(lookup.names)) +
                             " (--list-keys shows them all)");
            return std::nullopt;
        case remote::KeyLookup::Result::Found:
            break;
    }
    const remote::RemoteKey& key = *lookup.key;
    if (key.isReserved()) {
        errors.push_back("key " + quoted(word) + " is #" + std::to_string(key.hotspot) +
                         ", the reserved key: it has no command to send");
        return std::nullopt;
    }
    return Command{
        std::string(key.hint), remote::CommandFrame::fromText(key.commandText), key.hotspot, {}};
}

std::optional<Command> textCommand(std::string_view text, std::vector<std::string>& errors) {
    // The frame holds four bytes; anything past them would be dropped without a word.
    if (text.empty() || text.size() > remote::CommandFrame::kSize - 1) {
        errors.push_back("--text: a command is 1 to 4 characters: " + quoted(text));
        return std::nullopt;
    }
    return Command{std::string(text), remote::CommandFrame::fromText(text), 0, std::string(text)};
}

std::optional<std::chrono::milliseconds> waitValue(std::string_view text,
                                                   std::vector<std::string>& errors) {
    std::int64_t ms = 0;
    bool valid = !text.empty() && text.size() <= 9;
    for (char c : text) {
        valid = valid && c >= '0' && c <= '9';
        ms = valid ? ms * 10 + (c - '0') : ms;
    }
    if (!valid || ms < 1 || ms > kMaxWaitMs) {
        errors.push_back("--wait: milliseconds from 1 to " + std::to_string(kMaxWaitMs) + ": " +
                         quoted(text));
        return std::nullopt;
    }
    return std::chrono::milliseconds(ms);
}

bool takesValue(std::string_view option) {
    return option == "--port" || option == "--baud" || option == "--wait" || option == "--text";
}

}  // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string_view>& args) {
    ParsedCommandLine parsed;
    Options& options = parsed.options;
    std::vector<std::string>& errors = parsed.errors;
    bool search = false;
    bool status = false;
    bool listKeys = false;
    bool portGiven = false;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string_view arg = args[i];
        if (optionsEnded || arg.empty() || arg[0] != '-') {
            if (auto command = keyCommand(arg, errors)) {
                options.commands.push_back(std::move(*command));
            }
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
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
            options.port = std::string(*value);
            portGiven = true;
        } else if (arg == "--baud") {
            options.baud = baudValue(*value, errors).value_or(options.baud);
        } else if (arg == "--wait") {
            options.wait = waitValue(*value, errors).value_or(options.wait);
        } else if (arg == "--text") {
            if (auto command = textCommand(*value, errors)) {
                options.commands.push_back(std::move(*command));
            }
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--search") {
            search = true;
        } else if (arg == "--status") {
            status = true;
        } else if (arg == "--list-keys") {
            listKeys = true;
        } else {
            errors.push_back("unknown option " + std::string(arg));
        }
    }
    const bool keysGiven = !options.commands.empty();
    if (int(search) + int(status) + int(listKeys) > 1) {
        errors.push_back("--search, --status and --list-keys are different jobs: choose one");
    } else if (status) {
        options.action = Options::Action::Status;
        if (keysGiven) {
            errors.push_back("--status sends nothing: give it no KEY or --text");
        }
    } else if (search) {
        options.action = Options::Action::Search;
        if (keysGiven || portGiven) {
            errors.push_back(
                "--search tries COM1 to COM20 and sends no keys: give it no --port, "
                "KEY or --text");
        }
    } else if (listKeys) {
        options.action = Options::Action::ListKeys;
        if (keysGiven) {
            errors.push_back("--list-keys sends nothing: give it no KEY or --text");
        }
    } else if (!keysGiven && errors.empty()) {
        errors.push_back("no KEY to send (kolvane-send --help says how)");
    }
    return parsed;
}

std::string usageText() {
    return "usage: kolvane-send [--port NAME] [--baud N] [--wait MS] [--json] KEY|--text TEXT...\n"
           "       kolvane-send --search [--baud N] [--json]\n"
           "       kolvane-send --status [--port NAME] [--json]\n"
           "       kolvane-send --list-keys [--json]\n"
           "\n"
           "Sends keys of the quad-view device's remote over a serial line, waits for the\n"
           "device's answer to each and prints it, one line per key. When another program\n"
           "holds the port, such as the Kolvane Remote window, the keys go through it.\n"
           "\n"
           "KEY is a key's hint or answer name in any case, or the start of only one of them\n"
           "(POWER_ON/OFF, power, KEY_4_Split, 1ch_show), or its number (#1 ... #21).\n"
           "\n"
           "  --port NAME    the port: a device path, COMn or a comN alias, or a serial\n"
           "                 server's socket://HOST:PORT or rfc2217://HOST:PORT (default COM6)\n"
           "  --baud N       the line's speed (default 9600)\n"
           "  --wait MS      how long to wait for each answer (default 300)\n"
           "  --text TEXT    send a typed command of up to 4 characters, in its place\n"
           "                 among the keys\n"
           "  --json         print one JSON object per line instead\n"
           "  --search       try COM1 to COM20 for the device, print its port and exit\n"
           "  --status       say which program holds the port, if one does\n"
           "  --list-keys    print the keys: number, hint, command, answer name\n"
           "  -h, --help     show this help and exit\n"
           "      --version  show the version and exit\n"
           "\n"
           "Exit status: 0 every key answered (or the device found), 1 a key had no answer\n"
           "in time (or no device found, or no program holds the port), 2 a wrong command\n"
           "line, 3 the port did not open.\n";
}

}  // namespace cli
