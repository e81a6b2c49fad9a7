#pragma once

#include <sys/types.h>

#include <string>

namespace serial {

// Whether a character device number is a terminal's. Only terminals may be opened: opening
// some other character devices has side effects of its own (a watchdog starts counting, a
// tape rewinds).
bool isTerminalDeviceNumber(dev_t device);

// Whether `path` leads to a terminal device, found by looking, never by opening it.
bool leadsToTerminal(const std::string& path);

}  // namespace serial
