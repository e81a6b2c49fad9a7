#include <stdlib.h>

#include <memory>

#include "serial/port_identity.h"
#include "serial/port_name.h"

namespace serial {

std::string portIdentity(const std::string& portPath) {
    const std::string device = devicePathForPort(portPath, portAliasDir());
    const std::unique_ptr<char, decltype(&::free)> resolved(::realpath(device.c_str(), nullptr),
                                                            &::free);
    return resolved ? std::string(resolved.get()) : device;
}

}  // namespace serial
