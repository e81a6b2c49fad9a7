#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

struct Options {
    std::optional<int> comPort;  // --as COMn
    bool silent = false;
    bool garbage = false;
    std::chrono::milliseconds delay{0};
    std::uint32_t floodBytesPerSecond = 0;  // 0: no flood
    std::optional<std::chrono::milliseconds> vanishAfter;
    bool showLine = false;  // print the line settings whenever they change
};

struct ParsedOptions {
    enum class Action { Run, Help, Version, UsageError };
    Action action = Action::Run;
    Options options;
    std::string error;  // for UsageError
};

// Both `--delay 300` and `--delay=300` are accepted.
ParsedOptions parseOptions(const std::vector<std::string_view>& args);

std::string usageText(std::string_view program);

}  // namespace sim
