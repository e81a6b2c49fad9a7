#include <stdlib.h>

#include <memory>

#include "serial/network_device.h"
#include "serial/port_identity.h"
#include "serial/port_name.h"
#include "serial/port_path.h"

namespace serial {

std::string portIdentity(const std::string& portPath) {
    if (auto network = networkPortIdentity(withoutPortPathPrefix(portPath))) {
        return *network;
    }
    const std::string device = devicePathForPort(portPath, portAliasDir());
    const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(device.c_str(), nullptr),
                                                            &::free);
    return resolved ? std::string(resolved.get()) : device;
}

}  // namespace serial
