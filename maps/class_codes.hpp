// Class codes: the values a land-cover raster stores (11..95, 10..210, ...)
// and the classes 1..K the maps work on. A table of (code, value) rows gives
// each code of the raster its class value; classes follow the codes in
// increasing order, so the smallest code is class 1. Nodata codes (the
// raster's nodata value, excluded codes) belong to no class: they become
// label K + 1, which a map request with nodata set treats as "no data".
//
// Every front end recodes through this one place, so a raster gives the same
// labels, the same K and the same problems whichever front end reads it.
//
// Table codes are int64. Cells may be of any integer type of up to 64 bits,
// UInt64 included: a UInt64 cell above INT64_MAX is recoded exactly, to
// nodata when it is a nodata code (a UInt64 band's nodata value is often
// 2^64 - 1) and otherwise reported with its exact value, as no table can
// hold it. Such cells are rare, so the test for them costs one compare per
// UInt64 cell and nothing for narrower types.
#pragma once

#include "kernels/raster_window.hpp"

#include <concepts>
#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace rw {

using class_code = std::int64_t;

// A value an integer cell can hold, of any type up to 64 bits: every int64
// and every uint64. Only those up to INT64_MAX can be class codes.
class cell_code {
public:
    template <std::integral T>
    constexpr cell_code(T v) noexcept : bits_(static_cast<std::uint64_t>(v)), negative_(std::cmp_less(v, 0))
    {
    }
    constexpr bool is_class_code() const noexcept
    {
        return negative_ || bits_ <= static_cast<std::uint64_t>(std::numeric_limits<class_code>::max());
    }
    // Only for a class code.
    constexpr class_code as_class_code() const noexcept { return static_cast<class_code>(bits_); }
    // Only for a code that is not negative.
    constexpr std::uint64_t as_unsigned() const noexcept { return bits_; }
    friend constexpr bool operator==(cell_code, cell_code) noexcept = default;

private:
    std::uint64_t bits_; // two's complement when negative
    bool negative_;
};

// The code in decimal, e.g. "-5" or "18446744073709551615".
std::string to_string(cell_code code);

struct code_row {
    class_code code;
    double value;
};

// What is wrong with a code table or with a raster's codes, and where.
enum class code_problem_kind {
    duplicate_code, // the table gives code twice; row is the second row (0-based)
    no_classes,     // no table row is left once the nodata codes are taken out
    code_missing,   // a cell holds code, neither in the table nor nodata; row, col (0-based)
};

struct code_problem {
    code_problem_kind kind;
    cell_code code = 0;
    index_t row = -1, col = -1;
};

// Thrown by class_codes' constructor.
class invalid_codes : public std::exception {
public:
    explicit invalid_codes(code_problem p) : problem(p) {}
    const char* what() const noexcept override { return "invalid class codes"; }
    code_problem problem;
};

class class_codes {
public:
    // rows in any order; a code listed in nodata is taken out of the table,
    // so it never counts as a class. Throws invalid_codes.
    class_codes(std::vector<code_row> rows, std::vector<cell_code> nodata);

    index_t K() const { return static_cast<index_t>(codes_.size()); }
    // The class values in class order: entry k - 1 belongs to class k.
    const std::vector<double>& table() const { return values_; }
    // The code of each class, increasing.
    const std::vector<class_code>& codes() const { return codes_; }
    // True when some code stands for nodata, which then becomes label K + 1.
    bool has_nodata() const { return !nodata_.empty() || !nodata_above_.empty(); }
    std::int32_t nodata_label() const { return static_cast<std::int32_t>(K() + 1); }

    // The label of a code: its class 1..K, K + 1 for a nodata code, 0 for a
    // code the table lacks.
    std::int32_t label_of(class_code code) const
    {
        // Unsigned: code - lookup_lo_ can exceed INT64_MAX.
        const std::uint64_t at = static_cast<std::uint64_t>(code) - static_cast<std::uint64_t>(lookup_lo_);
        if (code >= lookup_lo_ && at < lookup_.size()) return lookup_[at];
        return lookup_.empty() ? search(code) : 0;
    }

    // The same for a cell's value of any integer type T.
    template <std::integral T>
    std::int32_t label_of_cell(T v) const
    {
        constexpr class_code most = std::numeric_limits<class_code>::max();
        if constexpr (std::cmp_greater(std::numeric_limits<T>::max(), most))
            if (std::cmp_greater(v, most)) return label_above(static_cast<std::uint64_t>(v));
        return label_of(static_cast<class_code>(v));
    }

    // Writes the label of every cell of codes into the same cell of labels
    // (both views cover the same cells). Gives the first code the table lacks
    // and its cell, in the views' coordinates, or nothing.
    template <class T>
    std::optional<code_problem> recode(raster_view<const T> codes, raster_view<std::int32_t> labels) const
    {
        std::optional<code_problem> missing;
        const auto one = [&](index_t r, index_t c) {
            const T code = codes(r, c);
            const std::int32_t l = label_of_cell(code);
            labels(r, c) = l;
            if (l == 0 && !missing) missing = code_problem{code_problem_kind::code_missing, code, r, c};
        };
        const index_t r1 = codes.row_end(), c1 = codes.col0 + codes.cols;
        if (codes.row_step == 1) {
            for (index_t c = codes.col0; c < c1; ++c)
                for (index_t r = codes.row0; r < r1; ++r) one(r, c);
        } else {
            for (index_t r = codes.row0; r < r1; ++r)
                for (index_t c = codes.col0; c < c1; ++c) one(r, c);
        }
        return missing;
    }

private:
    std::int32_t search(class_code code) const;
    std::int32_t label_above(std::uint64_t code) const;

    std::vector<class_code> codes_, nodata_; // increasing
    std::vector<std::uint64_t> nodata_above_; // nodata codes above INT64_MAX, increasing
    std::vector<double> values_;
    // Labels of the codes lookup_lo_ .. lookup_lo_ + size - 1, when they span
    // few enough values to table; empty otherwise, and codes are searched.
    class_code lookup_lo_ = 0;
    std::vector<std::int32_t> lookup_;
};

} // namespace rw
