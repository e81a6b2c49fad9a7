#pragma once

namespace testing_support {

// Whether AddressSanitizer instruments this build: its shadow memory and quarantine make
// resident size and address-space limits mean nothing. GCC says so with a macro, clang with a
// feature test.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kUnderAsan = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kUnderAsan = true;
#else
inline constexpr bool kUnderAsan = false;
#endif
#else
inline constexpr bool kUnderAsan = false;
#endif

}  // namespace testing_support
