#include "cli/output.h"

#include <cstdio>

#include "remote/key_table.h"

namespace cli {

namespace {

bool printable(unsigned char c) {
    return c >= 0x20 && c < 0x7F;
}

std::string hexEscape(const char* format, unsigned char c) {
    char buffer[8];
    std::snprintf(buffer, sizeof buffer, format, c);
    return buffer;
}

std::string jsonStringOrNull(std::string_view bytes) {
    return bytes.empty() ? "null" : jsonString(bytes);
}

}  // namespace

std::string jsonString(std::string_view bytes) {
    std::string text = "\"";
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            text += {'\\', ch};
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (c == '\t') {
            text += "\\t";
        } else if (printable(c)) {
            text += ch;
        } else {
            text += hexEscape("\\u%04x", c);
        }
    }
    return text + "\"";
}

std::string plainLine(std::string_view bytes) {
    if (!bytes.empty() && bytes.back() == '\n') {
        bytes.remove_suffix(1);
    }
    std::string text;
    for (char ch : bytes) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '\\') {
            text += "\\\\";
        } else if (c == '\n') {
            text += "\\n";
        } else if (c == '\r') {
            text += "\\r";
        } else if (printable(c)) {
            text += ch;
        } else {
            text += hexEscape("\\x%02X", c);
        }
    }
    return text;
}

void printResult(std::ostream& out, const KeyResult& result, bool json) {
    if (json) {
        out << "{\"key\":" << jsonString(result.label) << ",\"sent\":" << jsonString(result.sent)
            << ",\"answer\":" << (result.answer ? jsonString(*result.answer) : "null")
            << ",\"ms\":" << result.ms << "}\n";
    } else if (result.answer) {
        out << plainLine(*result.answer) << '\n';
    }
    out.flush();
}

void printKeyTable(std::ostream& out, bool json) {
    for (const remote::RemoteKey& key : remote::RemoteKeyTable) {
        if (json) {
            out << "{\"number\":" << key.hotspot << ",\"hint\":" << jsonString(key.hint)
                << ",\"command\":" << jsonStringOrNull(key.commandText)
                << ",\"answer\":" << jsonStringOrNull(key.receivedName) << "}\n";
            continue;
        }
        const std::string_view command = key.isReserved() ? "-" : key.commandText;
        const std::string_view answer = key.isReserved() ? "-" : key.receivedName;
        char line[96];
        std::snprintf(line, sizeof line, "%2d  %-19.*s %-5.*s %.*s\n", key.hotspot,
                      static_cast<int>(key.hint.size()), key.hint.data(),
                      static_cast<int>(command.size()), command.data(),
                      static_cast<int>(answer.size()), answer.data());
        out << line;
    }
}

}  // namespace cli
