#pragma once

// The remote's keys as the device defines them, written down apart from the program's own
// table so that tests compare the two instead of the program with itself. The rows live in
// keys.tsv, which the end-to-end scenarios read too; its first and last lines make it a raw
// string literal, so it is included here as text.

#include <cstddef>
#include <cstdint>
#include <optional>
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
        std::size_t at = 0;
        while (at < kKeysTsv.size()) {
            std::size_t end = kKeysTsv.find('\n', at);
            if (end == std::string_view::npos) {
                end = kKeysTsv.size();
            }
            const std::string_view line = kKeysTsv.substr(at, end - at);
            at = end + 1;
            if (line.empty() || line[0] < '0' || line[0] > '9') {
                continue;
            }
            std::vector<std::string> fields;
            for (std::size_t from = 0;;) {
                const std::size_t tab = line.find('\t', from);
                fields.emplace_back(line.substr(from, tab - from));
                if (tab == std::string_view::npos) {
                    break;
                }
                from = tab + 1;
            }
            fields.resize(7);
            Key key{std::stoi(fields[0]),
                    std::stoi(fields[1]),
                    std::stoi(fields[2]),
                    fields[3],
                    fields[4],
                    std::nullopt,
                    fields[6]};
            if (!fields[5].empty()) {
                key.code = static_cast<std::uint8_t>(std::stoi(fields[5], nullptr, 16));
            }
            parsed.push_back(key);
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
