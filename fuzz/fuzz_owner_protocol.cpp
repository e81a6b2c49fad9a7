// The lines an owner of a port and its clients exchange: whatever parses must come back the
// same from its own line, and nothing may crash. Input: one byte choosing the parser, then
// the line.
#include <cstdint>
#include <string_view>

#include "control/owner_protocol.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view line(reinterpret_cast<const char*>(data) + 1, size - 1);
    switch (data[0] % 3) {
        case 0:
            if (const auto parsed = control::parseRequest(line); parsed.request) {
                std::string again = control::requestLine(*parsed.request);
                again.pop_back();
                const auto reparsed = control::parseRequest(again);
                FUZZ_CHECK(reparsed.request && control::requestLine(*reparsed.request) ==
                                                   control::requestLine(*parsed.request));
            } else {
                FUZZ_CHECK(!parsed.refusal.empty());
            }
            break;
        case 1:
            if (const auto answer = control::parseAnswer(line)) {
                std::string again = control::answerLine(*answer);
                again.pop_back();
                FUZZ_CHECK(control::parseAnswer(again).has_value());
            }
            break;
        default:
            if (const auto greeting = control::parseGreeting(line)) {
                std::string again = control::greetingLine(*greeting);
                again.pop_back();
                const auto reparsed = control::parseGreeting(again);
                FUZZ_CHECK(reparsed && reparsed->program == greeting->program &&
                           reparsed->portText == greeting->portText);
            }
            break;
    }
    return 0;
}
