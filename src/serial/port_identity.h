#pragma once

#include <string>

namespace serial {

// What a port path comes to once every alias and link on the way is followed: two names
// with the same identity are one port.
std::string portIdentity(const std::string& portPath);

}  // namespace serial
