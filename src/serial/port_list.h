#pragma once

#include <string>
#include <vector>

namespace serial {

// The serial ports there are, named as the port box takes them, to offer while the user
// types. Found by looking only: no port is opened to build the list.
std::vector<std::string> availablePorts();

// Where the POSIX listing looks; tests point it at folders of their own.
struct PortPlaces {
    std::string aliasDir;     // the COMn aliases
    std::string devDir;       // device nodes
    std::string ttyClassDir;  // sysfs's tty class, which says whether a ttyS has a UART
};
std::vector<std::string> availablePorts(const PortPlaces& places);

}  // namespace serial
