// What callers of the HTTP and TCP API send: a TCP line, or an HTTP request's target and
// body. Nothing may crash, every refusal says why, and a request never names a hotspot that is
// not there. Input: one byte choosing the parser, then the line, or the target and the body
// split at the first NUL.
#include <cstdint>
#include <string_view>

#include "control/api_request.h"
#include "fuzz_check.h"
#include "remote/key_table.h"

namespace {

void check(const control::ParsedApiRequest& parsed) {
    if (!parsed.request) {
        FUZZ_CHECK(!parsed.refusal.empty() && parsed.status >= 400);
        return;
    }
    const control::ApiRequest& r = *parsed.request;
    if (r.kind == control::ApiRequest::Kind::Key) {
        FUZZ_CHECK(r.hotspot >= 1 && r.hotspot <= int(remote::kHotspotCount) &&
                   !remote::keyByHotspot(r.hotspot).isReserved());
    }
    FUZZ_CHECK(r.wait <= control::ApiRequest::kMaxWait);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
    if (data[0] % 2 == 0) {
        check(control::parseLine(input));
        return 0;
    }
    const std::size_t nul = input.find('\0');
    const std::string_view target = input.substr(0, nul);
    const std::string_view body =
        nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);
    check(control::parseHttpRequest(data[0] & 2 ? "POST" : "GET", target, body));
    control::percentDecode(target);
    return 0;
}
