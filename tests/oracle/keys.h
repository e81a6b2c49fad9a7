#pragma once

// The remote's keys as the device defines them, written down apart from the program's own
// table so that tests compare the two instead of the program with itself. The rows live in
// keys.tsv, which the end-to-end scenarios read too; its first and last lines make it a raw
// string literal, so it is included here as text.

#include <cstdint>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace oracle {

struct Key {
    int hotspot = 0;
    int left = 0;  // top-left corner of its click area on the remote picture
    int top = 0;
    std::string hint;
    std::string command;  // empty for the reserved key, as are its code and name
    std::optional<std::uint8_t> code;
    std::string receivedName;
};

inline constexpr int kKeyAreaSide = 68;
inline constexpr std::string_view kProbeCommand = "GFEg";
inline constexpr std::string_view kProbeReply = "gEFG\n";

inline constexpr std::string_view kKeysTsv =
#include "keys.tsv"
    ;

// The rows in hotspot order. Lines that do not start with a digit (the column names, the
// string's ends) are not rows.
inline const std::vector<Key>& keys() {
    static const std::vector<Key> rows = [] {
        std::vector<Key> parsed;
        std::istringstream lines{std::string(kKeysTsv)};
        for (std::string line; std::getline(lines, line);) {
            if (line.empty() || line[0] < '0' || line[0] > '9') {
                continue;
            }
            std::istringstream row(line);
            std::vector<std::string> f;
            for (std::string field; std::getline(row, field, '\t');) {
                f.push_back(field);
            }
            f.resize(7);  // getline drops an empty last field
            parsed.push_back({std::stoi(f[0]), std::stoi(f[1]), std::stoi(f[2]), f[3], f[4],
                              std::nullopt, f[6]});
            if (!f[5].empty()) {
                parsed.back().code = static_cast<std::uint8_t>(std::stoi(f[5], nullptr, 16));
            }
        }
        return parsed;
    }();
    return rows;
}

inline const Key* keyWithCode(std::uint8_t code) {
    for (const Key& key : keys()) {
        if (key.code == code) {
            return &key;
        }
    }
    return nullptr;
}

}  // namespace oracle
