#pragma once

// KOLVANE_UNDER_ASAN: this build runs under AddressSanitizer, whose shadow memory and
// quarantine make resident size and address-space limits mean nothing.
#if defined(__SANITIZE_ADDRESS__)
#define KOLVANE_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define KOLVANE_UNDER_ASAN 1
#endif
#endif
