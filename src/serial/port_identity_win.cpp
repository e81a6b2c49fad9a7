#include <algorithm>
#include <cctype>

#include "serial/port_identity.h"
#include "serial/serial_link.h"

namespace serial {

// Windows names a port the same in any case, and has no aliases of ours.
std::string portIdentity(const std::string& portPath) {
    const std::string prefix = portPathFor("");
    std::string name =
        portPath.compare(0, prefix.size(), prefix) == 0 ? portPath.substr(prefix.size()) : portPath;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return name;
}

}  // namespace serial
