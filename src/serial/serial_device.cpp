#include "serial/serial_device.h"

#include "serial/local_device.h"
#include "serial/network_device.h"
#include "serial/port_path.h"

namespace serial {

OpenResult SerialDevice::open(const std::string& portPath, const WhileWaiting& whileWaiting) {
    const std::string_view name = withoutPortPathPrefix(portPath);
    if (isNetworkPortName(name)) {
        return openNetworkDevice(std::string(name), whileWaiting);
    }
    return openLocalDevice(portPath);
}

}  // namespace serial
