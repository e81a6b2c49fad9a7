#include <fstream>

#include "control/server_options.h"

namespace control {

// A file in the user's profile is the user's alone by its folder's access list, which is
// Windows' way of keeping it from others; there are no mode bits to check.
std::optional<std::string> readTokenFile(const std::string& path, std::string& error) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        error = "cannot be read";
        return std::nullopt;
    }
    std::string text;
    char buffer[512];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        text.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (text.size() > kMaxTokenFileBytes) {
            break;
        }
    }
    return tokenFromText(text, error);
}

}  // namespace control
