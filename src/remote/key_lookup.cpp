#include "remote/key_lookup.h"

#include <algorithm>
#include <cctype>
#include <limits>

namespace remote {

namespace {

constexpr std::size_t kSuggestions = 3;

char lower(char c) {
    return static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
}

bool startsWithIgnoringCase(std::string_view name, std::string_view prefix) {
    return prefix.size() <= name.size() &&
           std::equal(prefix.begin(), prefix.end(), name.begin(),
                      [](char a, char b) { return lower(a) == lower(b); });
}

std::size_t editDistance(std::string_view a, std::string_view b) {
    std::vector<std::size_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) {
        row[j] = j;
    }
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::size_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::size_t above = row[j];
            row[j] = std::min({above + 1, row[j - 1] + 1,
                               diagonal + (lower(a[i - 1]) == lower(b[j - 1]) ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[b.size()];
}

// People type the start of a name, so a mistyped word is measured against the name's
// beginnings as well as against the whole of it.
std::size_t distanceToName(std::string_view word, std::string_view name) {
    std::size_t best = std::numeric_limits<std::size_t>::max();
    for (std::size_t length = 1; length <= name.size(); ++length) {
        best = std::min(best, editDistance(word, name.substr(0, length)));
    }
    return best;
}

std::vector<std::string_view> namesOf(const RemoteKey& key) {
    std::vector<std::string_view> names{key.hint};
    if (!key.receivedName.empty()) {
        names.push_back(key.receivedName);
    }
    return names;
}

bool isNumber(std::string_view word) {
    return word.size() >= 2 && word[0] == '#' &&
           std::all_of(word.begin() + 1, word.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

const RemoteKey* byNumber(std::string_view word) {
    if (!isNumber(word) || word.size() > 3) {
        return nullptr;
    }
    const int number = std::stoi(std::string(word.substr(1)));
    if (number < 1 || number > static_cast<int>(kHotspotCount)) {
        return nullptr;
    }
    return &keyByHotspot(number);
}

KeyLookup found(const RemoteKey& key) {
    return {KeyLookup::Result::Found, &key, {}};
}

}  // namespace

KeyLookup lookUpKey(std::string_view word) {
    if (const RemoteKey* key = byNumber(word)) {
        return found(*key);
    }
    // No name is like a number: "#22" is a number past the last key, not a misspelt name.
    if (word.empty() || isNumber(word)) {
        return {};
    }
    // A whole name wins over the longer names it begins: "1_3_Split" is not also
    // "1_3_Split_M0".
    std::vector<const RemoteKey*> prefixed;
    for (const RemoteKey& key : RemoteKeyTable) {
        for (std::string_view name : namesOf(key)) {
            if (name.size() == word.size() && startsWithIgnoringCase(name, word)) {
                return found(key);
            }
            if (startsWithIgnoringCase(name, word) &&
                std::find(prefixed.begin(), prefixed.end(), &key) == prefixed.end()) {
                prefixed.push_back(&key);
            }
        }
    }
    if (prefixed.size() == 1) {
        return found(*prefixed.front());
    }
    KeyLookup lookup;
    if (!prefixed.empty()) {
        lookup.result = KeyLookup::Result::Ambiguous;
        for (const RemoteKey* key : prefixed) {
            lookup.names.push_back(key->hint);
        }
        return lookup;
    }
    std::vector<std::pair<std::size_t, std::string_view>> ranked;
    for (const RemoteKey& key : RemoteKeyTable) {
        std::size_t distance = std::numeric_limits<std::size_t>::max();
        for (std::string_view name : namesOf(key)) {
            distance = std::min(distance, distanceToName(word, name));
        }
        ranked.emplace_back(distance, key.hint);
    }
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t i = 0; i < kSuggestions && ranked[i].first == ranked[0].first; ++i) {
        lookup.names.push_back(ranked[i].second);
    }
    return lookup;
}

}  // namespace remote
