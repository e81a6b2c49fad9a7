#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <string_view>
#include <system_error>
#include <utility>

#include "serial/port_list.h"
#include "serial/port_name.h"
#include "serial/terminal_device.h"

namespace serial {

namespace {

namespace fs = std::filesystem;

std::vector<std::string> entryNames(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
        names.push_back(it->path().filename().string());
    }
    return names;
}

// The number after `prefix` in a name like "ttyUSB12"; nothing for any other name.
std::optional<int> numberAfter(std::string_view name, std::string_view prefix) {
    constexpr std::size_t kMaxDigits = 6;
    if (name.substr(0, prefix.size()) != prefix || name.size() == prefix.size() ||
        name.size() - prefix.size() > kMaxDigits) {
        return std::nullopt;
    }
    int n = 0;
    for (char c : name.substr(prefix.size())) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        n = n * 10 + (c - '0');
    }
    return n;
}

// The kernel makes a ttyS node for every port its driver might have; sysfs says, without
// the port being opened, whether a UART answered there (type 0 is none).
bool hasUart(const std::string& ttyClassDir, const std::string& name) {
    std::ifstream type(ttyClassDir + "/" + name + "/type");
    int value = 0;
    return static_cast<bool>(type >> value) && value != 0;
}

std::vector<std::string> comNames(const PortPlaces& places) {
    std::set<int> numbers;
    for (const std::string& name : entryNames(places.aliasDir)) {
        const auto n = comPortNumber(name);
        if (n && fs::path(aliasPathFor(places.aliasDir, *n)).filename() == name) {
            numbers.insert(*n);
        }
    }
    for (const std::string& name : entryNames(places.devDir)) {
        if (const auto k = numberAfter(name, "ttyS")) {
            numbers.insert(*k + 1);
        }
    }
    std::vector<std::string> names;
    for (int n : numbers) {
        // Each name leads where opening it would: its alias, or else its ttyS.
        const std::string tty = "ttyS" + std::to_string(n - 1);
        const auto alias = aliasTargetFor(places.aliasDir, n);
        const bool present =
            alias ? leadsToTerminal(*alias)
                  : hasUart(places.ttyClassDir, tty) && leadsToTerminal(places.devDir + "/" + tty);
        if (present) {
            names.push_back("COM" + std::to_string(n));
        }
    }
    return names;
}

// Devices in `dir` whose names are `prefix` and a number, in number order.
std::vector<std::string> numberedDevices(const std::string& dir, std::string_view prefix) {
    std::vector<std::pair<int, std::string>> found;
    for (const std::string& name : entryNames(dir)) {
        if (const auto n = numberAfter(name, prefix)) {
            found.emplace_back(*n, dir + "/" + name);
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> paths;
    for (auto& [n, path] : found) {
        if (leadsToTerminal(path)) {
            paths.push_back(std::move(path));
        }
    }
    return paths;
}

}  // namespace

std::vector<std::string> availablePorts(const PortPlaces& places) {
    std::vector<std::string> names = comNames(places);
    const std::string byId = places.devDir + "/serial/by-id";
    std::vector<std::string> stable = entryNames(byId);
    std::sort(stable.begin(), stable.end());
    for (const std::string& name : stable) {
        if (leadsToTerminal(byId + "/" + name)) {
            names.push_back(byId + "/" + name);
        }
    }
    for (std::string_view prefix : {"ttyUSB", "ttyACM"}) {
        for (std::string& path : numberedDevices(places.devDir, prefix)) {
            names.push_back(std::move(path));
        }
    }
    return names;
}

std::vector<std::string> availablePorts() {
    return availablePorts({portAliasDir(), "/dev", "/sys/class/tty"});
}

}  // namespace serial
