#pragma once

#include <cstdint>
#include <string>

namespace serial {

// Why a port did not open, kept apart from how it is shown: the window, the standard error
// stream and a command-line tool all print the same line.
struct OpenError {
    enum class Kind {
        NoSuchDevice,
        PermissionDenied,
        InUse,
        NotSerial,
        SettingsRefused,
        Other,
    };

    Kind kind = Kind::Other;
    std::string port;           // the name asked for, without the port path prefix
    std::string device;         // what that name leads to; may equal `port`
    std::string systemMessage;  // the operating system's own words
    std::string accessGroup;    // PermissionDenied: the group that may open the device, if any
    std::int32_t baud = 0;      // SettingsRefused: the speed asked for
};

// One line for people, without the program's name: "cannot open /dev/ttyUSB0: Permission
// denied (add your user to the group 'dialout' and log in again)".
std::string describe(const OpenError& error);

}  // namespace serial
