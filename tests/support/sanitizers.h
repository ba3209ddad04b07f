#pragma once

// Which sanitizer the test program was built with, for the few tests that
// cannot run under one.
#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QUORVEL_TESTS_ASAN 1
#endif
#if __has_feature(thread_sanitizer)
#define QUORVEL_TESTS_TSAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define QUORVEL_TESTS_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define QUORVEL_TESTS_TSAN 1
#endif

namespace sanitizers {

#ifdef QUORVEL_TESTS_ASAN
inline constexpr bool kAddress = true;
#else
inline constexpr bool kAddress = false;
#endif
#ifdef QUORVEL_TESTS_TSAN
inline constexpr bool kThread = true;
#else
inline constexpr bool kThread = false;
#endif

}  // namespace sanitizers
