// What a Telnet port server sends: any bytes, cut into reads anywhere. The data must not
// depend on where reads were cut, may never be longer than what came, and every reply is one
// whole option command. Data we send must come back as it was.
#include <algorithm>
#include <cstdint>
#include <vector>

#include "fuzz_check.h"
#include "serial/telnet_codec.h"

namespace {

using serial::TelnetCodec;
using Bytes = TelnetCodec::Bytes;

struct Heard {
    Bytes data;
    Bytes replies;
    TelnetCodec::PortControl control;
};

// The first byte sets where the stream is cut: every `step` bytes.
Heard hear(const std::uint8_t* raw, std::size_t size, std::size_t step) {
    TelnetCodec codec;
    codec.start();
    Heard heard;
    for (std::size_t at = 0; at < size; at += step) {
        codec.receive(raw + at, std::min(step, size - at), heard.data, heard.replies);
    }
    heard.control = codec.portControl();
    return heard;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::size_t step = data[0] % 7 + 1;
    ++data;
    --size;

    const Heard whole = hear(data, size, size + 1);
    const Heard cut = hear(data, size, step);
    FUZZ_CHECK(whole.data == cut.data);
    FUZZ_CHECK(whole.replies == cut.replies);
    FUZZ_CHECK(whole.control == cut.control);
    FUZZ_CHECK(whole.data.size() <= size);
    FUZZ_CHECK(whole.replies.size() % 3 == 0);
    for (std::size_t i = 0; i < whole.replies.size(); i += 3) {
        FUZZ_CHECK(whole.replies[i] == 255 && whole.replies[i + 1] >= 251);
    }

    // Binary both ways, as after a good negotiation: what we encode, a server decodes back.
    TelnetCodec codec;
    codec.start();
    const Bytes agreed = {255, 253, 44, 255, 253, 0, 255, 251, 0};
    Bytes ignored;
    codec.receive(agreed.data(), agreed.size(), ignored, ignored);
    Bytes encoded;
    codec.encode(data, size, encoded);
    Bytes decoded;
    codec.receive(encoded.data(), encoded.size(), decoded, ignored);
    FUZZ_CHECK(decoded == Bytes(data, data + size));
    return 0;
}
