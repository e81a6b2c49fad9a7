#include "cli/port.h"

namespace cli {

namespace {
constexpr std::int32_t kDataBits = 8;
constexpr std::int32_t kNoParity = 0;
constexpr std::int32_t kOneStopBit = 1;
}  // namespace

bool openPort(serial::SerialLink& link, const std::string& name, std::int32_t baud) {
    link.setBaudRate(baud);
    return link.Rs232Control(true, "//./" + name, baud, kDataBits, kNoParity, kOneStopBit);
}

void closePort(serial::SerialLink& link) {
    link.Rs232Control(false, link.ComPortPath(), link.BaudRate(), kDataBits, kNoParity,
                      kOneStopBit);
}

}  // namespace cli
