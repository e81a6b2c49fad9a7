// Received bytes gathered into messages, checked against the tests' model of the rules.
//
// Input: a sequence of operations:
//   0x00        a quiet poll
//   0x01..0xDF  a chunk of that many bytes taken from the input
//   0xE0..0xEF  a run of ((op & 0x0F) + 1) * 128 copies of the next input byte
//   0xF0..0xFF  a chunk of (((op & 0x0F) << 8) | next byte) + 1 bytes taken from the input
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "oracle/receive_model.h"
#include "remote/receiver.h"
#include "support/message_log.h"

namespace {

constexpr std::size_t kFull = remote::ReceiveState::kBufferSize;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    remote::ReceiveState rx;
    oracle::ReceiveModel model;
    testing_support::MessageLog log;
    const remote::MessageHandler handle = log.handler();
    std::size_t given = 0;
    std::size_t checked = 0;

    std::vector<std::uint8_t> run;
    for (std::size_t at = 0; at < size;) {
        const std::uint8_t op = data[at++];
        if (op == 0) {
            rx.endMessage(handle);
            model.end();
        } else {
            const std::uint8_t* chunk = data + at;
            std::size_t count = 0;
            if (op < 0xE0) {
                count = std::min<std::size_t>(op, size - at);
                at += count;
            } else if (op < 0xF0) {
                const std::uint8_t fill = at < size ? data[at++] : 0;
                run.assign((std::size_t{op & 0x0Fu} + 1) * 128, fill);
                chunk = run.data();
                count = run.size();
            } else {
                const std::size_t low = at < size ? data[at++] : 0;
                count =
                    std::min<std::size_t>(((std::size_t{op & 0x0Fu} << 8) | low) + 1, size - at);
                chunk = data + at;
                at += count;
            }
            rx.gather(chunk, count, handle);
            model.gather(chunk, count);
            given += count;
        }

        FUZZ_CHECK(rx.RxCount() >= 0 && rx.RxCount() <= static_cast<std::int32_t>(kFull));
        FUZZ_CHECK(static_cast<std::size_t>(rx.RxCount()) == model.gathered().size());
        FUZZ_CHECK(log.messages.size() == model.messages().size());
        for (; checked < log.messages.size(); ++checked) {
            FUZZ_CHECK(log.messages[checked] == model.messages()[checked]);
        }
    }

    FUZZ_CHECK(std::equal(model.gathered().begin(), model.gathered().end(), rx.RxBuffer().begin()));
    std::size_t textBytes = 0;
    bool found = false;
    for (const oracle::Message& message : log.messages) {
        FUZZ_CHECK(message.text.size() <= kFull);
        if (message.kind != oracle::Message::Kind::Key) {
            textBytes += message.text.size();
        }
        found = found || message.kind == oracle::Message::Kind::ProbeReply;
    }
    // Text holds only bytes that came in.
    FUZZ_CHECK(textBytes <= given);
    FUZZ_CHECK(log.search.DeviceFound() == (found ? 1 : 0));
    return 0;
}
