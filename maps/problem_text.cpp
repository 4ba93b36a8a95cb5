#include "problem_text.hpp"

#include "catalogue.hpp"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>

namespace rw {
namespace {

std::string number(double v)
{
    if (std::isnan(v)) return "NaN";
    if (std::isinf(v)) return v > 0 ? "Inf" : "-Inf";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

std::string cat(std::initializer_list<std::string_view> parts)
{
    std::string s;
    for (const std::string_view p : parts) s += p;
    return s;
}

std::string finished(std::string s, const problem_naming& n)
{
    if (!n.sentence || s.empty()) return s;
    s[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
    return s + ".";
}

std::string cell(index_t row, index_t col, const problem_naming& n)
{
    return "row " + std::to_string(row + n.first_index) + ", column " + std::to_string(col + n.first_index);
}

} // namespace

std::string_view problem_name(problem_kind kind)
{
    switch (kind) {
    case problem_kind::empty_window: return "empty_window";
    case problem_kind::bad_probes_per_cell: return "bad_probes_per_cell";
    case problem_kind::label_out_of_range: return "label_out_of_range";
    case problem_kind::empty_table: return "empty_table";
    case problem_kind::non_finite_class_value: return "non_finite_class_value";
    case problem_kind::bad_min_valid: return "bad_min_valid";
    case problem_kind::window_too_large: return "window_too_large";
    }
    return "unknown";
}

std::string_view problem_name(code_problem_kind kind)
{
    switch (kind) {
    case code_problem_kind::duplicate_code: return "duplicate_code";
    case code_problem_kind::no_classes: return "no_classes";
    case code_problem_kind::code_missing: return "code_missing";
    }
    return "unknown";
}

std::string problem_text(const request_problem& p, const map_request& q, const problem_naming& n)
{
    const map_entry& map = entry_of(q.map);
    const std::string value = std::to_string(p.value);
    switch (p.kind) {
    case problem_kind::empty_table:
        return finished(cat({n.table, " is empty; it needs one value per class"}), n);
    case problem_kind::non_finite_class_value:
        return finished(cat({n.table, " holds ", number(q.table[p.value - 1]), " for class ", value,
                             ", which ", map.title, " cannot compute with; give a finite value"}),
                        n);
    case problem_kind::empty_window:
        return finished(cat({n.window, " is empty; it needs at least one row and one column"}), n);
    case problem_kind::bad_probes_per_cell:
        return finished(cat({n.probes_per_cell, " must be 0 or more; it is ", value}), n);
    case problem_kind::bad_min_valid:
        return finished(cat({n.min_valid, " must be a fraction 0..1 of the window; it is ",
                             number(q.min_valid)}),
                        n);
    case problem_kind::window_too_large: {
        // The map's own limit when the window passes it, else the one of
        // valid counts, which every map has with nodata.
        const bool own = p.value > map.most_window_cells;
        const index_t most = own ? map.most_window_cells : std::numeric_limits<std::int32_t>::max();
        return finished(cat({n.window, " holds ", value, " cells; ",
                             own ? cat({map.title, " scores"}) : std::string("with nodata cells every map takes"),
                             " windows of at most ", std::to_string(most), " cells"}),
                        n);
    }
    case problem_kind::label_out_of_range:
        break;
    }
    return finished(cat({"label ", value, " at ", cell(p.row, p.col, n), " of ", n.labels,
                         " is outside 1..", std::to_string(q.K), ", the classes of ", n.table}),
                    n);
}

std::string problem_text(const code_problem& p, const problem_naming& n)
{
    const std::string code = to_string(p.code);
    switch (p.kind) {
    case code_problem_kind::duplicate_code:
        return finished(cat({n.table, " gives code ", code, " twice"}), n);
    case code_problem_kind::no_classes:
        return finished(cat({n.table, " has no class left once the nodata codes are taken out"}), n);
    case code_problem_kind::code_missing:
        break;
    }
    const std::string where = cat({"code ", code, " at ", cell(p.row, p.col, n), " of ", n.labels});
    if (!p.code.is_class_code())
        return finished(cat({where, " is not nodata and is above 2^63 - 1, the largest code ",
                             n.table, " can hold"}),
                        n);
    return finished(cat({where, " is neither in ", n.table, " nor nodata"}), n);
}

} // namespace rw
