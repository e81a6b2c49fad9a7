#include "remote/command_sender.h"

#include "remote/key_table.h"
#include "serial/pause.h"
#include "serial/serial_link.h"

namespace remote {

CommandSender::CommandSender(serial::SerialLink& link, std::function<void()> pauseBetweenBytes)
    : link_(link), pause_(std::move(pauseBetweenBytes)) {}

void CommandSender::sendFrame(const CommandFrame& frame) {
    enqueue({frame.bytes.begin(), frame.bytes.end()}, true);
}

void CommandSender::sendBytes(std::vector<std::uint8_t> bytes) {
    enqueue(std::move(bytes), false);
}

void CommandSender::enqueue(std::vector<std::uint8_t> bytes, bool paced) {
    queue_.push_back(Pending{std::move(bytes), paced, link_.session()});
    // A send asked for from inside the pauses of another is left to the outer one, which
    // sends it after its own frame.
    if (!busy_) {
        drain();
    }
}

bool CommandSender::stillOnSamePort(const Pending& p) const {
    return link_.ComOpened() && link_.session() == p.session;
}

void CommandSender::drain() {
    const serial::FineTimerResolution finePauses;
    busy_ = true;
    struct Idle {
        bool& busy;
        ~Idle() { busy = false; }
    } idle{busy_};
    while (!queue_.empty()) {
        const Pending next = std::move(queue_.front());
        queue_.pop_front();
        if (!next.paced) {
            if (stillOnSamePort(next)) {
                link_.Rs232Write(next.bytes.data(), static_cast<std::int32_t>(next.bytes.size()));
            }
            continue;
        }
        for (std::uint8_t byte : next.bytes) {
            if (!stillOnSamePort(next)) {
                break;
            }
            link_.Rs232Write(&byte, 1);
            pause_();
        }
    }
}

}  // namespace remote
