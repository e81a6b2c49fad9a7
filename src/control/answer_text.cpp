#include "control/answer_text.h"

#include <cstdio>

namespace control {

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

std::string errorJson(std::string_view reason) {
    return "{\"error\":" + jsonString(reason) + "}";
}

std::string keyJson(const remote::RemoteKey& key) {
    return "{\"number\":" + std::to_string(key.hotspot) + ",\"hint\":" + jsonString(key.hint) +
           ",\"command\":" + jsonStringOrNull(key.commandText) +
           ",\"answer\":" + jsonStringOrNull(key.receivedName) + "}";
}

std::string resultJson(std::string_view label, std::string_view sent,
                       const std::optional<std::string>& answer, long long ms) {
    return "{\"key\":" + jsonString(label) + ",\"sent\":" + jsonString(sent) +
           ",\"answer\":" + (answer ? jsonString(*answer) : "null") +
           ",\"ms\":" + std::to_string(ms) + "}";
}

}  // namespace control
