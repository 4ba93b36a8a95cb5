#include "window_option.hpp"

#include "tool_error.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>

namespace cli {
namespace {

constexpr double most_side = std::numeric_limits<std::int32_t>::max();

// A size and its unit: "21", "2.5", "630m". Only plain decimals: strtod's
// "inf", "nan" and hexadecimal would read as sizes nobody meant.
struct size_text {
    double value = 0.0;
    size_unit unit = size_unit::cells;
};

std::optional<size_text> size_of(std::string_view text)
{
    size_text s;
    if (!text.empty() && text.back() == 'm') {
        s.unit = size_unit::metres;
        text.remove_suffix(1);
    }
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.'))
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), s.value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(s.value)) return std::nullopt;
    return s;
}

bool whole_side(double v) { return v >= 1.0 && v <= most_side && v == std::floor(v); }

window_reading refused(const std::string& text, const std::string& why = "")
{
    return {std::nullopt, (why.empty() ? std::string() : why + "; ") + "takes " + window_syntax + "; got '" + text + "'"};
}

window_reading rectangle(const std::string& text)
{
    const std::string_view all = text;
    const auto cross = all.find_first_of("xX");
    std::optional<size_text> rows = size_of(all.substr(0, cross));
    std::optional<size_text> cols = cross == std::string_view::npos ? rows : size_of(all.substr(cross + 1));
    if (!rows || !cols) return refused(text);
    // 630x450m: the unit at the end is both sides'.
    if (rows->unit == size_unit::cells && cols->unit == size_unit::metres && cross != std::string_view::npos)
        rows->unit = size_unit::metres;
    if (rows->unit != cols->unit) return refused(text, "both sides take the same unit");
    window_spec w{rw::window_shape::rectangle, rows->value, cols->value, 0.0, 0.0, rows->unit, text};
    if (w.unit == size_unit::cells && !(whole_side(w.height) && whole_side(w.width)))
        return refused(text, "sides in cells are whole numbers 1.." + std::to_string(std::numeric_limits<std::int32_t>::max()));
    if (w.unit == size_unit::metres && !(w.height > 0.0 && w.width > 0.0))
        return refused(text, "sides in metres are more than 0");
    return {w, {}};
}

window_reading round_window(const std::string& text, rw::window_shape shape, std::string_view radii)
{
    window_spec w{shape, 0.0, 0.0, 0.0, 0.0, size_unit::cells, text};
    if (shape == rw::window_shape::circle) {
        const auto r = size_of(radii);
        if (!r) return refused(text);
        w.outer = r->value;
        w.unit = r->unit;
        return {w, {}};
    }
    const auto comma = radii.find(',');
    if (comma == std::string_view::npos) return refused(text, "an annulus takes two radii");
    const auto r0 = size_of(radii.substr(0, comma)), r1 = size_of(radii.substr(comma + 1));
    if (!r0 || !r1) return refused(text);
    if (r0->unit != r1->unit) return refused(text, "both radii take the same unit (annulus:150m,300m)");
    w.inner = r0->value;
    w.outer = r1->value;
    w.unit = r0->unit;
    return {w, {}};
}

} // namespace

const char* const window_syntax =
    "H, HxW (rows x columns), circle:R or annulus:R0,R1, in cells or with m for metres "
    "(630m, 630x450m, circle:300m, annulus:150m,300m)";

window_reading read_window(const std::string& text)
{
    if (text.rfind("circle:", 0) == 0) return round_window(text, rw::window_shape::circle, std::string_view(text).substr(7));
    if (text.rfind("annulus:", 0) == 0)
        return round_window(text, rw::window_shape::annulus, std::string_view(text).substr(8));
    return rectangle(text);
}

void set_window(rw::map_request& q, const window_spec& window, const cell_size& cell)
{
    const cell_size unit = window.unit == size_unit::metres ? cell : cell_size{};
    if (window.shape != rw::window_shape::rectangle) {
        rw::set_footprint(q, {window.shape, window.inner, window.outer, unit.height, unit.width});
        return;
    }
    const auto cells = [&](double size, double side) {
        const double n = std::max(1.0, std::round(size / side));
        if (!(n <= most_side))
            throw tool_error("the window " + window.text + " is more than " +
                             std::to_string(std::numeric_limits<std::int32_t>::max()) +
                             " cells a side at this pixel size");
        return static_cast<rw::index_t>(n);
    };
    q.h = cells(window.height, unit.height);
    q.w = cells(window.width, unit.width);
    rw::set_footprint(q, {});
}

} // namespace cli
