#include "catalogue.hpp"

#include "raster_maps.hpp"

#include <array>
#include <stdexcept>

namespace rw {

// Each map's entry lives beside its arithmetic.
extern const map_entry varnok_entry, marnisa_entry, sulmet_entry, ombrel_entry, dravix_entry;

std::span<const map_entry> map_catalogue()
{
    static const std::array<map_entry, 5> entries{varnok_entry, marnisa_entry, sulmet_entry,
                                                  ombrel_entry, dravix_entry};
    return entries;
}

const map_entry& entry_of(map_kind map)
{
    for (const map_entry& e : map_catalogue())
        if (e.kind == map) return e;
    throw std::invalid_argument("map kind without a catalogue entry");
}

const map_entry* find_map(std::string_view name)
{
    for (const map_entry& e : map_catalogue())
        if (e.name == name) return &e;
    return nullptr;
}

} // namespace rw
