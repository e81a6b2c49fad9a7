#include "control/owner_address.h"

#include <cstdint>

namespace control {

// FNV-1a: no security rests on it, the folder or pipe keeps others out; it only has to give
// every port its own short name.
std::string identityHash(const std::string& identity) {
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (unsigned char c : identity) {
        hash = (hash ^ c) * 0x100000001b3ULL;
    }
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, hash >>= 4) {
        text[std::size_t(i)] = kDigits[hash & 0x0F];
    }
    return text;
}

}  // namespace control
