#include "class_codes.hpp"

#include <algorithm>

namespace rw {
namespace {

// Codes spanning up to this many values get a lookup table (1 MiB of labels
// at most); Byte and 16-bit rasters always do.
constexpr class_code most_tabled_codes = class_code{1} << 18;

template <class T>
void sort_unique(std::vector<T>& v)
{
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
}

} // namespace

std::string to_string(cell_code code)
{
    return code.is_class_code() ? std::to_string(code.as_class_code()) : std::to_string(code.as_unsigned());
}

class_codes::class_codes(std::vector<code_row> rows, std::vector<cell_code> nodata)
{
    for (const cell_code c : nodata) {
        if (c.is_class_code()) nodata_.push_back(c.as_class_code());
        else nodata_above_.push_back(c.as_unsigned());
    }
    sort_unique(nodata_);
    sort_unique(nodata_above_);
    const auto is_nodata = [&](class_code c) {
        return std::binary_search(nodata_.begin(), nodata_.end(), c);
    };

    // Sorted by code, keeping the table's row number for the message.
    std::vector<std::pair<code_row, index_t>> order;
    for (index_t i = 0; i < static_cast<index_t>(rows.size()); ++i) order.push_back({rows[i], i});
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& x, const auto& y) { return x.first.code < y.first.code; });
    for (std::size_t i = 1; i < order.size(); ++i)
        if (order[i].first.code == order[i - 1].first.code)
            throw invalid_codes({code_problem_kind::duplicate_code, order[i].first.code,
                                 std::max(order[i].second, order[i - 1].second)});
    for (const auto& [row, at] : order) {
        if (is_nodata(row.code)) continue;
        codes_.push_back(row.code);
        values_.push_back(row.value);
    }
    if (codes_.empty()) throw invalid_codes({code_problem_kind::no_classes});

    class_code lo = codes_.front(), hi = codes_.back();
    if (!nodata_.empty()) {
        lo = std::min(lo, nodata_.front());
        hi = std::max(hi, nodata_.back());
    }
    // hi - lo + 1 could overflow for codes at both ends of int64.
    if (hi / 2 - lo / 2 < most_tabled_codes / 2) {
        lookup_lo_ = lo;
        lookup_.assign(static_cast<std::size_t>(hi - lo + 1), 0);
        for (index_t k = 0; k < K(); ++k)
            lookup_[static_cast<std::size_t>(codes_[k] - lo)] = static_cast<std::int32_t>(k + 1);
        for (const class_code c : nodata_) lookup_[static_cast<std::size_t>(c - lo)] = nodata_label();
    }
}

std::int32_t class_codes::search(class_code code) const
{
    const auto at = std::lower_bound(codes_.begin(), codes_.end(), code);
    if (at != codes_.end() && *at == code) return static_cast<std::int32_t>(at - codes_.begin() + 1);
    if (std::binary_search(nodata_.begin(), nodata_.end(), code)) return nodata_label();
    return 0;
}

std::int32_t class_codes::label_above(std::uint64_t code) const
{
    return std::binary_search(nodata_above_.begin(), nodata_above_.end(), code) ? nodata_label() : 0;
}

} // namespace rw
