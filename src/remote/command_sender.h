#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <vector>

namespace serial {
class SerialLink;
}

namespace remote {

struct CommandFrame;

// Puts commands on the line one byte at a time. Between bytes it pauses and lets the caller
// process waiting events, so a click or a timer tick can ask for another send while a frame
// is still going out. Such a send waits its turn: frames never interleave on the wire, and
// none is lost. A frame stops short when its port is closed (or closed and another opened)
// under it: its remaining bytes go nowhere.
class CommandSender {
public:
    CommandSender(serial::SerialLink& link, std::function<void()> pauseBetweenBytes);

    // Sends a frame, a byte at a time with the pause after each; the caller has checked
    // that the port is open.
    void sendFrame(const CommandFrame& frame);
    // Sends bytes in one write with no pause.
    void sendBytes(std::vector<std::uint8_t> bytes);

    bool busy() const { return busy_; }

private:
    struct Pending {
        std::vector<std::uint8_t> bytes;
        bool paced;
        std::uint64_t session;
    };
    void enqueue(std::vector<std::uint8_t> bytes, bool paced);
    void drain();
    bool stillOnSamePort(const Pending& p) const;

    serial::SerialLink& link_;
    std::function<void()> pause_;
    std::deque<Pending> queue_;
    bool busy_ = false;
};

}  // namespace remote
