// Class codes: the values a land-cover raster stores (11..95, 10..210, ...)
// and the classes 1..K the maps work on. A table of (code, value) rows gives
// each code of the raster its class value; classes follow the codes in
// increasing order, so the smallest code is class 1. Nodata codes (the
// raster's nodata value, excluded codes) belong to no class: they become
// label K + 1, which a map request with nodata set treats as "no data".
//
// Every front end recodes through this one place, so a raster gives the same
// labels, the same K and the same problems whichever front end reads it.
#pragma once

#include "kernels/raster_window.hpp"

#include <cstdint>
#include <exception>
#include <optional>
#include <vector>

namespace rw {

using class_code = std::int64_t;

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
    class_code code = 0;
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
    class_codes(std::vector<code_row> rows, std::vector<class_code> nodata);

    index_t K() const { return static_cast<index_t>(codes_.size()); }
    // The class values in class order: entry k - 1 belongs to class k.
    const std::vector<double>& table() const { return values_; }
    // The code of each class, increasing.
    const std::vector<class_code>& codes() const { return codes_; }
    // True when some code stands for nodata, which then becomes label K + 1.
    bool has_nodata() const { return !nodata_.empty(); }
    std::int32_t nodata_label() const { return static_cast<std::int32_t>(K() + 1); }

    // The label of a code: its class 1..K, K + 1 for a nodata code, 0 for a
    // code the table lacks.
    std::int32_t label_of(class_code code) const
    {
        if (code >= lookup_lo_ && code - lookup_lo_ < static_cast<class_code>(lookup_.size()))
            return lookup_[static_cast<std::size_t>(code - lookup_lo_)];
        return lookup_.empty() ? search(code) : 0;
    }

    // Writes the label of every cell of codes into the same cell of labels
    // (both views cover the same cells). Gives the first code the table lacks
    // and its cell, in the views' coordinates, or nothing.
    template <class T>
    std::optional<code_problem> recode(raster_view<const T> codes, raster_view<std::int32_t> labels) const
    {
        std::optional<code_problem> missing;
        const auto one = [&](index_t r, index_t c) {
            const std::int32_t l = label_of(static_cast<class_code>(codes(r, c)));
            labels(r, c) = l;
            if (l == 0 && !missing)
                missing = code_problem{code_problem_kind::code_missing,
                                       static_cast<class_code>(codes(r, c)), r, c};
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

    std::vector<class_code> codes_, nodata_; // increasing
    std::vector<double> values_;
    // Labels of the codes lookup_lo_ .. lookup_lo_ + size - 1, when they span
    // few enough values to table; empty otherwise, and codes are searched.
    class_code lookup_lo_ = 0;
    std::vector<std::int32_t> lookup_;
};

} // namespace rw
