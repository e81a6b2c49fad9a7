#include "cli/port.h"

namespace cli {

bool openPort(serial::SerialLink& link, const std::string& name, std::int32_t baud) {
    link.setBaudRate(baud);
    return link.Rs232Control(true, serial::portPathFor(name), baud, serial::kDataBits,
                             serial::kNoParity, serial::kOneStopBit);
}

void closePort(serial::SerialLink& link) {
    link.Rs232Control(false, link.ComPortPath(), link.BaudRate(), serial::kDataBits,
                      serial::kNoParity, serial::kOneStopBit);
}

}  // namespace cli
