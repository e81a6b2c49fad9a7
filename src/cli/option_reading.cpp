#include "cli/option_reading.h"

#include "session/int_text.h"

namespace cli {

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

std::optional<std::int32_t> baudValue(std::string_view text, std::vector<std::string>& errors) {
    try {
        const std::int32_t baud = session::textToInt(text);
        if (baud > 0) {
            return baud;
        }
        errors.push_back("--baud: must be more than 0: " + quoted(text));
    } catch (const session::ConvertError& e) {
        errors.push_back(std::string("--baud: ") + e.what());
    }
    return std::nullopt;
}

bool readOption(const std::vector<std::string_view>& args, std::size_t& i, std::string_view& name,
                std::optional<std::string_view>& value, bool (*takesValue)(std::string_view),
                std::vector<std::string>& errors) {
    name = args[i];
    value.reset();
    if (const auto eq = name.find('='); name.substr(0, 2) == "--" && eq != name.npos) {
        value = name.substr(eq + 1);
        name = name.substr(0, eq);
    }
    if (takesValue(name) && !value) {
        if (i + 1 == args.size()) {
            errors.push_back(std::string(name) + " needs a value");
            i = args.size();
            return false;
        }
        value = args[++i];
    } else if (!takesValue(name) && value) {
        errors.push_back(std::string(name) + " takes no value");
        return false;
    }
    return true;
}

}  // namespace cli
