#pragma once

#include <string>

#include "serial/serial_device.h"

namespace serial {

// A serial device of this computer, by its port path: the platform's own open.
OpenResult openLocalDevice(const std::string& portPath);

}  // namespace serial
