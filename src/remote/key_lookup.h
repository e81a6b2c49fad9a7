#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "remote/key_table.h"

namespace remote {

// What a KEY word on the command line names: a hint or received name in any case, an
// unambiguous prefix of one, or a hotspot number such as "#13".
struct KeyLookup {
    enum class Result { Found, Ambiguous, Unknown };
    Result result = Result::Unknown;
    const RemoteKey* key = nullptr;  // Found
    // Ambiguous: every key the word could mean; Unknown: the nearest ones, at most three.
    // Hints either way.
    std::vector<std::string_view> names;
};

KeyLookup lookUpKey(std::string_view word);

}  // namespace remote
