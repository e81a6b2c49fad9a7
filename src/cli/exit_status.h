#pragma once

namespace cli {

// What a script can tell apart by the exit status alone.
enum ExitStatus : int {
    kAllAnswered = 0,
    kNoAnswer = 1,
    kUsageError = 2,
    kPortDidNotOpen = 3,
};

}  // namespace cli
