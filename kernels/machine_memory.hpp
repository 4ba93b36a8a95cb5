// How much memory this machine has, to refuse work that could never fit
// before anything is allocated: Linux may grant far more address space than
// there is memory and then kill the process once the pages are touched.
#pragma once

#include <cstdint>

namespace rw {

// Physical memory in bytes, or the largest 64-bit value when the system does
// not say.
std::uint64_t physical_memory_bytes();

} // namespace rw
