#include "catalogue.hpp"

#include "raster_maps.hpp"

#include <array>
#include <stdexcept>

namespace rw {
namespace {

// The lookups of every catalogue: by kind (which must have an entry), and by name.
template <class Entry, class Kind>
const Entry& by_kind(std::span<const Entry> entries, Kind kind, const char* missing)
{
    for (const Entry& e : entries)
        if (e.kind == kind) return e;
    throw std::invalid_argument(missing);
}

template <class Entry>
const Entry* by_name(std::span<const Entry> entries, std::string_view name)
{
    for (const Entry& e : entries)
        if (e.name == name) return &e;
    return nullptr;
}

} // namespace

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
    return by_kind(map_catalogue(), map, "map kind without a catalogue entry");
}

const map_entry* find_map(std::string_view name) { return by_name(map_catalogue(), name); }

std::span<const arithmetic_entry> arithmetic_catalogue()
{
    static const std::array<arithmetic_entry, 2> entries{{
        {arithmetic::exact, "exact",
         "exact window sums and counts, rounded once (means correctly rounded, Sulmet and Ombrel "
         "within a few ulps): a window of one class gives exactly its value, values >= 0 never a "
         "negative mean, and no score depends on the raster's size or the window's place"},
        {arithmetic::plugin, "plugin",
         "the plug-ins' arithmetic bit for bit (a summed-area table of doubles, whose rounding "
         "grows with the raster): pick it to reproduce or compare with the plug-ins' results"},
    }};
    return entries;
}

const arithmetic_entry& entry_of(arithmetic a)
{
    return by_kind(arithmetic_catalogue(), a, "arithmetic without a catalogue entry");
}

const arithmetic_entry* find_arithmetic(std::string_view name) { return by_name(arithmetic_catalogue(), name); }

std::span<const edge_entry> edge_catalogue()
{
    static const std::array<edge_entry, 3> entries{{
        {edge_rule::inside, "inside",
         "every cell whose window lies wholly inside the raster is scored: the most cells that "
         "whole windows can give"},
        {edge_rule::margin, "margin",
         "the plug-ins' layout, windows a further 10 cells from the top and left edges and 11 "
         "from the bottom and right: pick it to reproduce or compare with the plug-ins' results"},
        {edge_rule::partial, "partial",
         "every cell is scored, a window reaching past the raster over its cells inside it (as "
         "renormalise scores nodata: min_valid applies to the share inside and valid); needs "
         "exact arithmetic"},
    }};
    return entries;
}

const edge_entry& entry_of(edge_rule e)
{
    return by_kind(edge_catalogue(), e, "edge rule without a catalogue entry");
}

const edge_entry* find_edges(std::string_view name) { return by_name(edge_catalogue(), name); }

} // namespace rw
