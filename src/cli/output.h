#pragma once

#include <optional>
#include <ostream>
#include <string>
#include <string_view>

namespace cli {

struct KeyResult {
    std::string label;
    std::string sent;                   // the frame's five bytes
    std::optional<std::string> answer;  // nothing when none came
    long long ms = 0;
};

void printResult(std::ostream& out, const KeyResult& result, bool json);

void printKeyTable(std::ostream& out, bool json);

}  // namespace cli
