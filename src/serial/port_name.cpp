#include "serial/port_name.h"

#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "serial/port_path.h"

namespace serial {

namespace {
// Far above any port a machine has; keeps the number well inside int.
constexpr int kHighestComPort = 99999;

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) {
            return false;
        }
    }
    return true;
}
}  // namespace

std::optional<int> comPortNumber(std::string_view name) {
    if (name.size() < 4 || !equalsIgnoringCase(name.substr(0, 3), "com")) {
        return std::nullopt;
    }
    int n = 0;
    for (char c : name.substr(3)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + (c - '0');
        if (n > kHighestComPort) {
            return std::nullopt;
        }
    }
    if (n < 1) {
        return std::nullopt;
    }
    return n;
}

std::string aliasPathFor(const std::string& aliasDir, int portNumber) {
    return aliasDir + "/com" + std::to_string(portNumber);
}

std::optional<std::string> aliasTargetFor(const std::string& aliasDir, int portNumber) {
    if (aliasDir.empty()) {
        return std::nullopt;
    }
    namespace fs = std::filesystem;
    const fs::path alias = aliasPathFor(aliasDir, portNumber);
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(alias, ec))) {
        return std::nullopt;
    }
    const fs::path target = fs::read_symlink(alias, ec);
    if (ec) {
        return std::nullopt;
    }
    return (target.is_absolute() ? target : alias.parent_path() / target).string();
}

std::string devicePathForPort(std::string_view portPath, const std::string& aliasDir) {
    const std::string_view name = withoutPortPathPrefix(portPath);
    if (name.empty() || name.find('\0') != std::string_view::npos) {
        return {};
    }
    if (name.find('/') != std::string_view::npos) {
        return std::string(name);
    }
    if (auto n = comPortNumber(name)) {
        if (auto target = aliasTargetFor(aliasDir, *n)) {
            return *target;
        }
        return "/dev/ttyS" + std::to_string(*n - 1);
    }
    return "/dev/" + std::string(name);
}

std::string portAliasDir() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    if (xdg != nullptr && xdg[0] == '/') {
        return std::string(xdg) + "/kolvane/ports";
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
        return std::string(home) + "/.config/kolvane/ports";
    }
    return {};
}

}  // namespace serial
