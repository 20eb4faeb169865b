// Whether this test binary runs under AddressSanitizer. The tests that push a
// decoder to its 1 GiB output cap take too long there; they run in the
// normal build.
#pragma once

namespace vellox_test {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

}  // namespace vellox_test
