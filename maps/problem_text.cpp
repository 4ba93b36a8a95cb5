#include "problem_text.hpp"

#include "catalogue.hpp"

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

bool is_lower(char c) { return c >= 'a' && c <= 'z'; }

// A sentence starts with a capital, unless it starts with a name spelled as
// code ("probesPerCell", "min_valid", "--window"), which keeps its spelling.
std::string finished(std::string s, const problem_naming& n)
{
    if (!n.sentence || s.empty()) return s;
    const std::size_t word_end = std::min(s.find(' '), s.size());
    bool plain_word = true;
    for (std::size_t i = 0; i < word_end; ++i) plain_word = plain_word && is_lower(s[i]);
    if (plain_word) s[0] = static_cast<char>(s[0] - 'a' + 'A');
    return s + ".";
}

std::string cell(index_t row, index_t col, const problem_naming& n)
{
    return "row " + std::to_string(row + n.first_index) + ", column " + std::to_string(col + n.first_index);
}

std::string_view table_in_passing(const problem_naming& n)
{
    return n.table_in_passing.empty() ? n.table : n.table_in_passing;
}

// Class k (1-based) as the front end's users know it.
std::string class_name(std::int64_t k, const problem_naming& n)
{
    if (k >= 1 && static_cast<std::size_t>(k) <= n.codes.size())
        return "code " + std::to_string(n.codes[static_cast<std::size_t>(k - 1)]);
    const std::string number_k = std::to_string(k);
    switch (n.class_shown) {
    case class_aside::label: return cat({"class ", number_k, " (label ", number_k, ")"});
    case class_aside::table_entry:
        return cat({"class ", number_k, " (", n.table, "[", std::to_string(k - 1 + n.first_index), "])"});
    case class_aside::none: break;
    }
    return "class " + number_k;
}

// Why the map cannot take a value its rule refuses.
std::string_view refusal_reason(usable_values rule)
{
    switch (rule) {
    case usable_values::finite: return "computes with every class value, so each must be a finite number";
    case usable_values::below_infinity:
        return "would keep every cell of that class and spread Inf over its windows; use a finite value "
               "(0, a negative value or NaN keeps none)";
    case usable_values::any: break;
    }
    return "cannot compute with it";
}

std::string non_finite_text(const request_problem& p, const map_request& q, const problem_naming& n)
{
    const map_entry& map = entry_of(q.map);
    const std::string fact =
        cat({n.table, " holds ", number(q.table[p.value - 1]), " for ", class_name(p.value, n)});
    switch (n.detail) {
    case problem_detail::remedy:
        return cat({fact, ", which ", map.title, " cannot compute with; give a finite value"});
    case problem_detail::reason: return cat({fact, "; ", map.title, " ", refusal_reason(map.values_used)});
    case problem_detail::rule_and_reason: break;
    }
    return cat({fact, ", which is not finite; ", map.title, " ", refusal_reason(map.values_used)});
}

std::string window_too_large_text(const request_problem& p, const map_request& q, const problem_naming& n)
{
    // The map's own limit when the window passes it, else the one of valid
    // counts, which every map has with nodata.
    const map_entry& map = entry_of(q.map);
    const bool own = p.value > map.most_window_cells;
    const index_t most = own ? map.most_window_cells : std::numeric_limits<std::int32_t>::max();
    return cat({n.window, " holds ", std::to_string(p.value), " cells; ",
                own ? cat({map.title, " scores"}) : std::string("with nodata cells every map takes"),
                " windows of at most ", std::to_string(most), " cells"});
}

std::string footprint_text(const request_problem& p, const map_request& q, const problem_naming& n)
{
    const footprint& f = q.footprint;
    const std::string_view shape = f.shape == window_shape::circle ? "circle" : "annulus";
    switch (static_cast<footprint_fault>(p.value)) {
    case footprint_fault::bad_radius:
        if (f.shape == window_shape::circle)
            return cat({n.window, ": a circle's radius must be finite and 0 or more; it is ", number(f.outer)});
        return cat({n.window, ": an annulus's radii must be finite with 0 <= inner < outer; they are ",
                    number(f.inner), " and ", number(f.outer)});
    case footprint_fault::bad_cell_size:
        return cat({n.window, ": the cell size must be positive and finite; it is ", number(f.cell_width), " x ",
                    number(f.cell_height)});
    case footprint_fault::too_large:
        return cat({n.window, ": a ", shape, " of radius ", number(f.outer),
                    " reaches more than 1048575 cells from its centre"});
    case footprint_fault::no_cell:
        return cat({n.window, ": an annulus from ", number(f.inner), " to ", number(f.outer),
                    " holds no cell; widen it"});
    case footprint_fault::none: break;
    }
    return cat({n.window, ": its size is not the extent of its ", shape});
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
    case problem_kind::bad_footprint: return "bad_footprint";
    case problem_kind::footprint_needs_exact: return "footprint_needs_exact";
    case problem_kind::edges_need_exact: return "edges_need_exact";
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

std::string_view problem_identifier(problem_kind kind)
{
    switch (kind) {
    case problem_kind::empty_table:
    case problem_kind::non_finite_class_value: return "badTable";
    case problem_kind::empty_window: return "emptyWindow";
    case problem_kind::window_too_large:
    case problem_kind::bad_footprint:
    case problem_kind::footprint_needs_exact:
    case problem_kind::edges_need_exact: return "badWindow";
    case problem_kind::label_out_of_range: return "labelOutOfRange";
    case problem_kind::bad_probes_per_cell: return "badProbesPerCell";
    case problem_kind::bad_min_valid: return "badMinValid";
    }
    return "internal";
}

std::string problem_text(const request_problem& p, const map_request& q, const problem_naming& n)
{
    switch (p.kind) {
    case problem_kind::empty_table:
        return finished(cat({n.table, " is empty; it needs one value per class"}), n);
    case problem_kind::non_finite_class_value: return finished(non_finite_text(p, q, n), n);
    case problem_kind::empty_window:
        return finished(cat({n.window, " is empty; it needs at least one row and one column"}), n);
    case problem_kind::bad_probes_per_cell:
        return finished(cat({n.probes_per_cell, " must be 0 or more; it is ", std::to_string(p.value)}), n);
    case problem_kind::bad_min_valid:
        return finished(cat({n.min_valid, " must be a fraction 0..1 of the window; it is ",
                             number(q.min_valid)}),
                        n);
    case problem_kind::window_too_large: return finished(window_too_large_text(p, q, n), n);
    case problem_kind::bad_footprint: return finished(footprint_text(p, q, n), n);
    case problem_kind::footprint_needs_exact:
        return finished(cat({n.window, ": circles and annuli need exact arithmetic; the plug-ins' "
                                       "arithmetic is defined for rectangles only"}),
                        n);
    case problem_kind::edges_need_exact:
        return finished("partial edges need exact arithmetic; the plug-ins' arithmetic is defined for "
                        "whole windows only",
                        n);
    case problem_kind::label_out_of_range:
        break;
    }
    return problem_text(p, q, n, p.value);
}

std::string problem_text(request_problem p, const map_request& q, const problem_naming& n, cell_code label)
{
    if (p.kind != problem_kind::label_out_of_range) return problem_text(p, q, n);
    const std::string labels = n.labels.empty() ? std::string() : cat({" of ", n.labels});
    return finished(cat({"label ", to_string(label), " at ", cell(p.row, p.col, n), labels, " is outside 1..",
                         std::to_string(q.K), ", the classes of ", table_in_passing(n)}),
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
    const std::string where = cat({"code ", code, " at ", cell(p.row, p.col, n),
                                   n.labels.empty() ? std::string() : cat({" of ", n.labels})});
    const std::string mark = n.exclude.empty() ? std::string() : cat({"mark it nodata: ", n.exclude, code});
    if (!p.code.is_class_code())
        return finished(cat({where, " is not nodata and is above 2", n.power, "63 - 1, the largest code ",
                             table_in_passing(n), " can hold", mark.empty() ? "" : cat({" (", mark, ")"})}),
                        n);
    return finished(cat({where, " is neither in ", table_in_passing(n), " nor nodata",
                         mark.empty() ? "" : cat({" (add it to ", table_in_passing(n), ", or ", mark, ")"})}),
                    n);
}

} // namespace rw
