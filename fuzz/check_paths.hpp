// The property every fuzz target checks: a case is either rejected by
// validation, and then by run_map and stream_map alike, or it runs without
// error and gives the same bits on every path through the core: the whole
// raster on one thread, row-major on three threads, streamed in short
// strips, and tile by tile on a random tiling. (Dravix may also refuse a probe pool larger than memory, with
// std::bad_alloc, on every path alike.) A broken property aborts with the case and the first cell that
// differs, which the fuzzer reports as a crash.
#pragma once

#include "fuzz_case.hpp"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace rw::fuzz {

void check_paths(const fuzz_case& c);

// The whole of a fuzz target's LLVMFuzzerTestOneInput. With
// RASTER_MAPS_FUZZ_SHOW set, each case is printed before it runs, so that a
// crash or a hang can be read as sizes, window and table.
inline int fuzz_one(map_kind map, const std::uint8_t* data, std::size_t size)
{
    const fuzz_case c = decode_case(map, data, size);
    if (std::getenv("RASTER_MAPS_FUZZ_SHOW")) std::fprintf(stderr, "case: %s\n", c.describe().c_str());
    check_paths(c);
    return 0;
}

} // namespace rw::fuzz
