#include "remote/receiver.h"

#include <algorithm>
#include <cstring>

#include "remote/key_table.h"
#include "serial/serial_link.h"

namespace remote {

void ReceiveState::gather(const std::uint8_t* data, std::size_t count,
                          const MessageHandler& handle) {
    while (count > 0) {
        if (rxCount_ == static_cast<std::int32_t>(kBufferSize)) {
            endMessage(handle, true);
        }
        const std::size_t room = kBufferSize - static_cast<std::size_t>(rxCount_);
        const std::size_t take = std::min(count, room);
        std::memcpy(rxBuffer_.data() + rxCount_, data, take);
        rxCount_ += static_cast<std::int32_t>(take);
        data += take;
        count -= take;
    }
}

void ReceiveState::endMessage(const MessageHandler& handle, bool cutShort) {
    // The message is over before anyone is told of it: whatever a handler throws, the next
    // poll starts a new one rather than showing this one again.
    const auto count = static_cast<std::size_t>(rxCount_);
    rxCount_ = 0;
    if (count == 1 && rxBuffer_[0] != 0) {
        const std::uint8_t byte = rxBuffer_[0];
        // A lone byte is a key the device reports; one that is no key's code means nothing
        // to us and is not shown.
        if (const RemoteKey* key = keyByCode(KeyCode{byte})) {
            handle({Message::Kind::Key, key->receivedName, cutShort});
        }
    } else if (count >= 2) {
        endTextMessage(count, cutShort, handle);
    }
}

void ReceiveState::endTextMessage(std::size_t count, bool cutShort, const MessageHandler& handle) {
    try {
        // The text stops at the first zero byte; a leading zero is skipped. Bytes past the
        // gathered count are zero anyway, so stopping there never shortens the text and a
        // full buffer without a zero byte is never read past its end.
        const auto* begin = rxBuffer_.data() + (rxBuffer_[0] == 0 ? 1 : 0);
        const auto* end = rxBuffer_.data() + count;
        const std::string_view text(reinterpret_cast<const char*>(begin),
                                    static_cast<std::size_t>(std::find(begin, end, 0) - begin));
        handle({text == kProbeReply ? Message::Kind::ProbeReply : Message::Kind::Text, text,
                cutShort});
    } catch (...) {
        // A message that cannot be shown is dropped; receiving goes on with the next one.
    }
    rxBuffer_.fill(0);
}

std::size_t pollReceiver(serial::SerialLink& link, ReceiveState& rx, const MessageHandler& handle) {
    if (link.hComm().isInvalid()) {
        return 0;
    }
    // A device that cannot report its queue (gone, or a handle never opened) has nothing
    // for us; that ends a message being gathered, as a quiet poll does.
    const std::size_t waiting = link.waitingBytes().value_or(0);
    if (waiting > ReceiveState::kBufferSize) {
        link.discardInput();
        return 0;
    }
    std::array<std::uint8_t, ReceiveState::kBufferSize> chunk;
    const std::size_t got = link.read(chunk.data(), waiting);
    if (waiting != 0) {
        rx.gather(chunk.data(), got, handle);
        return got;
    }
    rx.endMessage(handle);
    return 0;
}

}  // namespace remote
