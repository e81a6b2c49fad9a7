#pragma once

#include <cstdint>
#include <string>

#include "serial/serial_link.h"

namespace cli {

// Opens the port a name gives, as the window's switch does with the same text in its box.
bool openPort(serial::SerialLink& link, const std::string& name, std::int32_t baud);

void closePort(serial::SerialLink& link);

}  // namespace cli
