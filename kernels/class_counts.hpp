// Class-count histograms of h x w windows, for the maps that score a
// window's class composition. A histogram holds K counts, entry k for label
// k + 1, and is counted once per row of windows, then kept up to date as the
// window slides one column to the right at a time.
//
// A row of windows touches only the classes its cells hold, so nothing here
// costs K per row: histograms start all 0, are counted up from the window's
// cells, and are put back to all 0 from the last window's cells. Only making
// a histogram costs K, once per thread and map.
#pragma once

#include "footprint.hpp"
#include "raster_window.hpp"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <memory>
#include <mutex>
#include <vector>

namespace rw {

// Windows slide side by side, each with its own histogram, only while K is
// at most this: beyond it their histograms would take much memory and
// every update a cache miss, which side by side windows cannot hide.
inline constexpr index_t most_classes_side_by_side = index_t{1} << 16;

// Counts the labels of the h x w window with top-left cell (i, j) into
// count[0 .. K-1], which must be all 0 on entry, column by column down each
// column; after each increment calls added(k, c), c being the new count of
// class k. Needs those labels in 1..K.
template <class Added>
inline void count_window(raster_view<const std::int32_t> labels, index_t h, index_t w, index_t i,
                         index_t j, index_t* count, Added&& added)
{
    for (index_t c = j; c < j + w; ++c)
        for_each_down(labels, c, i, i + h, [&](index_t, std::int32_t l) {
            const index_t k = index_t{l} - 1;
            added(k, ++count[k]);
        });
}

// Puts count[0 .. K-1], the histogram of the window with top-left cell
// (i, j), back to all 0: by clearing all K entries when that is no more work
// than visiting the window's cells, else by clearing the window's classes.
inline void clear_counts(raster_view<const std::int32_t> labels, index_t K, index_t h, index_t w,
                         index_t i, index_t j, index_t* count)
{
    if (K <= h * w) {
        std::fill(count, count + K, index_t{0});
        return;
    }
    for (index_t c = j; c < j + w; ++c)
        for_each_down(labels, c, i, i + h, [&](index_t, std::int32_t l) { count[l - 1] = 0; });
}

// Slides the R windows with top rows i .. i + R - 1 from left column j - 1
// to j. Row by row down the window, each window g loses its cell of column
// j - 1 through leave(g, k), k being the cell's label less 1; then, row by
// row again, it gains its cell of column j + w - 1 through enter(g, k). The
// whole leaving column goes before the entering one comes in. The R windows
// keep separate counts, so their updates form R independent chains that the
// processor can overlap.
template <index_t R, class Leave, class Enter>
inline void slide_right(raster_view<const std::int32_t> labels, index_t h, index_t w, index_t i,
                        index_t j, Leave&& leave, Enter&& enter)
{
    const std::int32_t* leaving = &labels(i, j - 1);
    const std::int32_t* entering = &labels(i, j + w - 1);
    const index_t s = labels.row_step;
    for (index_t r = 0; r < h; ++r)
        for (index_t g = 0; g < R; ++g) leave(g, index_t{leaving[(g + r) * s]} - 1);
    for (index_t r = 0; r < h; ++r)
        for (index_t g = 0; g < R; ++g) enter(g, index_t{entering[(g + r) * s]} - 1);
}

// The same three for a window of any layout (footprint.hpp), one window at
// a time: its cells are those of its row spans. Sliding right, each span
// loses its first cell and gains the one after its last.
template <class Added>
inline void count_footprint(raster_view<const std::int32_t> labels, const window_layout& layout, index_t i,
                            index_t j, index_t* count, Added&& added)
{
    for (const footprint_span& s : layout.spans)
        for (index_t c = j + s.c0; c < j + s.c1; ++c) {
            const index_t k = index_t{labels(i + s.row, c)} - 1;
            added(k, ++count[k]);
        }
}

inline void clear_footprint_counts(raster_view<const std::int32_t> labels, const window_layout& layout,
                                   index_t K, index_t i, index_t j, index_t* count)
{
    if (K <= layout.cells) {
        std::fill(count, count + K, index_t{0});
        return;
    }
    for (const footprint_span& s : layout.spans)
        for (index_t c = j + s.c0; c < j + s.c1; ++c) count[labels(i + s.row, c) - 1] = 0;
}

template <class Leave, class Enter>
inline void slide_footprint_right(raster_view<const std::int32_t> labels, const window_layout& layout,
                                  index_t i, index_t j, Leave&& leave, Enter&& enter)
{
    for (const footprint_span& s : layout.spans) leave(index_t{labels(i + s.row, j - 1 + s.c0)} - 1);
    for (const footprint_span& s : layout.spans) enter(index_t{labels(i + s.row, j + s.c1 - 1)} - 1);
}

// All-zero histograms of `size` counts for the threads of one map, made once
// and handed back all 0 after each use, so that a map with a huge K clears
// its histograms once, not once per strip or row.
class zeroed_counts {
public:
    explicit zeroed_counts(index_t size) : size_(size) {}

    // A histogram for the holder's use; all 0 when taken and when given back.
    class lease {
    public:
        explicit lease(zeroed_counts& owner)
            : owner_(owner), counts_(owner.take()), unwinding_(std::uncaught_exceptions())
        {
        }
        // A histogram left mid-row by an exception may hold counts: drop it.
        ~lease()
        {
            if (std::uncaught_exceptions() == unwinding_) owner_.give(std::move(counts_));
        }
        lease(const lease&) = delete;
        lease& operator=(const lease&) = delete;
        index_t* data() { return counts_.get(); }

    private:
        zeroed_counts& owner_;
        std::unique_ptr<index_t[]> counts_;
        int unwinding_;
    };

private:
    std::unique_ptr<index_t[]> take()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (!free_.empty()) {
                auto counts = std::move(free_.back());
                free_.pop_back();
                return counts;
            }
        }
        return std::make_unique<index_t[]>(static_cast<std::size_t>(size_)); // all 0
    }
    void give(std::unique_ptr<index_t[]> counts) noexcept
    {
        std::lock_guard<std::mutex> lock(mutex_);
        try {
            free_.push_back(std::move(counts));
        } catch (...) { // no room to keep it: the next lease makes a new one
        }
    }

    index_t size_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<index_t[]>> free_;
};

} // namespace rw
