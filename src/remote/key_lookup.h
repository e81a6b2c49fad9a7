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
    // Ambiguous: every key the word could mean; Unknown: the nearest ones, at most three, or
    // none for a number that is no key's.
    // Hints either way.
    std::vector<std::string_view> names;
};

KeyLookup lookUpKey(std::string_view word);

// How the keys are numbered, for whoever gave a number that is none of them.
inline const std::string kKeyNumbers = "#1 to #" + std::to_string(kHotspotCount);

}  // namespace remote
