#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace cli {

// A JSON string literal, quotes included. Bytes outside printable ASCII are escaped, each
// standing for the code point of the same value, so that whatever a device sends stays
// valid JSON.
std::string jsonString(std::string_view bytes);

// An answer as one line of plain text: the line feed that ends it dropped, and the control
// and non-ASCII bytes a device may send shown as escapes rather than handed to the terminal.
std::string plainLine(std::string_view bytes);

struct KeyResult {
    std::string label;
    std::string sent;                   // the frame's five bytes
    std::optional<std::string> answer;  // nothing when none came
    long long ms = 0;
};

void printResult(std::ostream& out, const KeyResult& result, bool json);

void printKeyTable(std::ostream& out, bool json);

}  // namespace cli
