#include "footprint.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rw {
namespace {

// The most rows or columns a circle's half extent may have: a window two
// million cells a side, beyond any raster, whose spans still fit in memory.
constexpr double most_half_extent = 1048575.0; // 2^20 - 1

double squared_distance(const footprint& f, index_t di, index_t dj)
{
    const double y = static_cast<double>(di) * f.cell_height, x = static_cast<double>(dj) * f.cell_width;
    return y * y + x * x;
}

bool holds(const footprint& f, index_t di, index_t dj)
{
    const double d = squared_distance(f, di, dj);
    if (d > f.outer * f.outer) return false;
    return f.shape != window_shape::annulus || d > f.inner * f.inner;
}

} // namespace

footprint_fault check_footprint(const footprint& f)
{
    if (f.shape == window_shape::rectangle) return footprint_fault::none;
    if (!(f.cell_height > 0) || !(f.cell_width > 0) || !std::isfinite(f.cell_height) || !std::isfinite(f.cell_width))
        return footprint_fault::bad_cell_size;
    if (!std::isfinite(f.outer) || !(f.outer >= 0)) return footprint_fault::bad_radius;
    if (f.shape == window_shape::annulus && (!std::isfinite(f.inner) || !(f.inner >= 0) || !(f.inner < f.outer)))
        return footprint_fault::bad_radius;
    if (f.outer / f.cell_height > most_half_extent || f.outer / f.cell_width > most_half_extent)
        return footprint_fault::too_large;
    const window_extent e = extent_of(f);
    if (cells_of(spans_of(f, e.h, e.w)) == 0) return footprint_fault::no_cell;
    return footprint_fault::none;
}

window_extent extent_of(const footprint& f)
{
    const auto side = [&](double cell) { return 2 * static_cast<index_t>(std::floor(f.outer / cell)) + 1; };
    return {side(f.cell_height), side(f.cell_width)};
}

std::vector<footprint_span> spans_of(const footprint& f, index_t h, index_t w)
{
    std::vector<footprint_span> spans;
    if (f.shape == window_shape::rectangle) {
        for (index_t r = 0; r < h; ++r) spans.push_back({r, 0, w});
        return spans;
    }
    // Along a row the distance grows with |dj|, so the cells held are
    // a <= |dj| <= b: one span when a = 0, else one each side.
    const index_t cr = h / 2, cc = w / 2;
    for (index_t r = 0; r < h; ++r) {
        const index_t di = r - cr;
        // b: the last |dj| within the outer radius, from an estimate moved
        // until the test itself agrees.
        const double y = static_cast<double>(di) * f.cell_height;
        const double room = f.outer * f.outer - y * y;
        index_t b = room < 0 ? -1 : std::min(cc, static_cast<index_t>(std::sqrt(room) / f.cell_width));
        while (b >= 0 && squared_distance(f, di, b) > f.outer * f.outer) --b;
        while (b + 1 <= cc && squared_distance(f, di, b + 1) <= f.outer * f.outer) ++b;
        if (b < 0) continue;
        // a: the first |dj| beyond the inner radius.
        index_t a = 0;
        if (f.shape == window_shape::annulus) {
            const double hole = f.inner * f.inner - y * y;
            a = hole < 0 ? 0 : std::min(b + 1, static_cast<index_t>(std::sqrt(hole) / f.cell_width));
            while (a > 0 && holds(f, di, a - 1)) --a;
            while (a <= b && !holds(f, di, a)) ++a;
        }
        if (a > b) continue;
        if (a == 0) {
            spans.push_back({r, cc - b, cc + b + 1});
        } else {
            spans.push_back({r, cc - b, cc - a + 1});
            spans.push_back({r, cc + a, cc + b + 1});
        }
    }
    return spans;
}

window_layout layout_of(const footprint& f, index_t h, index_t w)
{
    window_layout l;
    l.h = h;
    l.w = w;
    l.rectangle = f.shape == window_shape::rectangle;
    if (l.rectangle) {
        // A huge window is never scored, and its cells are never counted.
        l.cells = h > 0 && w <= std::numeric_limits<index_t>::max() / h ? h * w : 0;
        l.boxes.push_back({0, h, 0, w});
        return l;
    }
    l.spans = spans_of(f, h, w);
    l.cells = cells_of(l.spans);
    // Each span extends the box of the row above with the same columns, or
    // opens one.
    std::vector<std::size_t> open, next; // boxes ending at the row before
    index_t row = -1;
    for (const footprint_span& s : l.spans) {
        if (s.row != row) {
            open = s.row == row + 1 ? next : std::vector<std::size_t>{};
            next.clear();
            row = s.row;
        }
        bool extended = false;
        for (const std::size_t b : open)
            if (l.boxes[b].c0 == s.c0 && l.boxes[b].c1 == s.c1 && l.boxes[b].r1 == s.row) {
                l.boxes[b].r1 = s.row + 1;
                next.push_back(b);
                extended = true;
                break;
            }
        if (!extended) {
            l.boxes.push_back({s.row, s.row + 1, s.c0, s.c1});
            next.push_back(l.boxes.size() - 1);
        }
    }
    return l;
}

index_t cells_of(const std::vector<footprint_span>& spans)
{
    index_t n = 0;
    for (const footprint_span& s : spans) n += s.c1 - s.c0;
    return n;
}

} // namespace rw
