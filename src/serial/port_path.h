#pragma once

#include <string>
#include <string_view>

namespace serial {

// Every port name is opened as a path: this prefix and the name as typed.
inline constexpr std::string_view kPortPathPrefix = "//./";

inline std::string portPathFor(const std::string& name) {
    return std::string(kPortPathPrefix) + name;
}

// The name a port path was made from; a path without the prefix stands as it is.
inline std::string_view withoutPortPathPrefix(std::string_view path) {
    if (path.substr(0, kPortPathPrefix.size()) == kPortPathPrefix) {
        path.remove_prefix(kPortPathPrefix.size());
    }
    return path;
}

}  // namespace serial
