// Fuzz target: Varnok requests through validation and every path of the core.
#include "check_paths.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    return rw::fuzz::fuzz_one(rw::map_kind::varnok, data, size);
}
