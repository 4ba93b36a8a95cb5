// Whether this build runs under AddressSanitizer, whose shadow memory fills
// any cap on the address space: tests that cap it skip such builds.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define RASTER_MAPS_TESTS_UNDER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RASTER_MAPS_TESTS_UNDER_ASAN 1
#endif
#endif

inline constexpr bool under_address_sanitizer =
#ifdef RASTER_MAPS_TESTS_UNDER_ASAN
    true;
#else
    false;
#endif
