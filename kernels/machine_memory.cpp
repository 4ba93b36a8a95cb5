#include "machine_memory.hpp"

#include <unistd.h>

#include <limits>

namespace rw {

std::uint64_t physical_memory_bytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES), page = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || page <= 0) return std::numeric_limits<std::uint64_t>::max();
    const auto p = static_cast<std::uint64_t>(pages), s = static_cast<std::uint64_t>(page);
    if (p > std::numeric_limits<std::uint64_t>::max() / s) return std::numeric_limits<std::uint64_t>::max();
    return p * s;
}

} // namespace rw
