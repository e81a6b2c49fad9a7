#include "serial/open_error.h"

namespace serial {

namespace {

std::string hintFor(const OpenError& error) {
    switch (error.kind) {
        case OpenError::Kind::PermissionDenied:
            return error.accessGroup.empty()
                       ? std::string()
                       : "add your user to the group '" + error.accessGroup + "' and log in again";
        case OpenError::Kind::InUse:
            return "another program is using it";
        case OpenError::Kind::NotSerial:
            return "not a serial port";
        case OpenError::Kind::SettingsRefused:
            return "the port does not take " + std::to_string(error.baud) + " baud, 8N1";
        case OpenError::Kind::NoSuchDevice:
        case OpenError::Kind::Other:
            break;
    }
    return {};
}

}  // namespace

std::string describe(const OpenError& error) {
    std::string line = "cannot open " + (error.port.empty() ? "\"\"" : error.port);
    if (!error.device.empty() && error.device != error.port) {
        line += " (" + error.device + ")";
    }
    line += ": " + error.systemMessage;
    if (const std::string hint = hintFor(error); !hint.empty()) {
        line += " (" + hint + ")";
    }
    return line;
}

}  // namespace serial
