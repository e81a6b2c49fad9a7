#include <algorithm>
#include <cctype>

#include "serial/network_device.h"
#include "serial/port_identity.h"
#include "serial/port_path.h"

namespace serial {

// Windows names a port the same in any case, and has no aliases of ours.
std::string portIdentity(const std::string& portPath) {
    if (auto network = networkPortIdentity(withoutPortPathPrefix(portPath))) {
        return *network;
    }
    std::string name(withoutPortPathPrefix(portPath));
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

}  // namespace serial
