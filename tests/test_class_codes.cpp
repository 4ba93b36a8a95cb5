// Recoding a raster's class codes to labels 1..K in increasing code order,
// with nodata codes as K + 1 and codes the table lacks reported with a cell.
#include "maps/class_codes.hpp"

#include <gtest/gtest.h>

#include <limits>

namespace rw {
namespace {

TEST(ClassCodes, ClassesFollowIncreasingCodes)
{
    const class_codes codes({{90, 0.9}, {11, 0.1}, {41, 0.4}, {255, 2.0}}, {0, 255});
    EXPECT_EQ(codes.K(), 3); // 255 is nodata, so not a class
    EXPECT_EQ(codes.codes(), (std::vector<class_code>{11, 41, 90}));
    EXPECT_EQ(codes.table(), (std::vector<double>{0.1, 0.4, 0.9}));
    EXPECT_TRUE(codes.has_nodata());
    EXPECT_EQ(codes.label_of(11), 1);
    EXPECT_EQ(codes.label_of(41), 2);
    EXPECT_EQ(codes.label_of(90), 3);
    EXPECT_EQ(codes.label_of(0), 4);
    EXPECT_EQ(codes.label_of(255), 4);
    for (class_code missing : {1, 12, 89, 91, 256, -5, 1 << 30}) EXPECT_EQ(codes.label_of(missing), 0);
    EXPECT_FALSE(class_codes({{3, 1.0}}, {}).has_nodata());
}

// Codes too far apart to table are searched, with the same answers.
TEST(ClassCodes, WideCodesAreSearched)
{
    constexpr class_code lo = std::numeric_limits<class_code>::min(), hi = std::numeric_limits<class_code>::max();
    const class_codes codes({{hi, 1.0}, {lo, 2.0}, {7, 3.0}}, {-1});
    EXPECT_EQ(codes.label_of(lo), 1);
    EXPECT_EQ(codes.label_of(7), 2);
    EXPECT_EQ(codes.label_of(hi), 3);
    EXPECT_EQ(codes.label_of(-1), 4);
    EXPECT_EQ(codes.label_of(8), 0);
    EXPECT_EQ(codes.label_of(hi - 1), 0);
}

TEST(ClassCodes, BadTables)
{
    try {
        class_codes({{5, 1.0}, {3, 0.0}, {5, 2.0}}, {});
        ADD_FAILURE() << "no error";
    } catch (const invalid_codes& e) {
        EXPECT_EQ(e.problem.kind, code_problem_kind::duplicate_code);
        EXPECT_EQ(e.problem.code, 5);
        EXPECT_EQ(e.problem.row, 2);
    }
    try {
        class_codes({{5, 1.0}}, {5});
        ADD_FAILURE() << "no error";
    } catch (const invalid_codes& e) {
        EXPECT_EQ(e.problem.kind, code_problem_kind::no_classes);
    }
}

// A band of rows of a row-major raster keeps its rows' own numbers, so a
// missing code is reported at its cell of the whole raster.
TEST(ClassCodes, RecodeReportsAMissingCodeAtItsCell)
{
    const class_codes codes({{10, 0.5}, {20, 0.25}}, {0});
    const index_t M = 6, N = 5;
    std::vector<std::uint8_t> cells(static_cast<std::size_t>(M * N), 20);
    cells[0] = 10;
    cells[1] = 0;
    cells[4 * N + 3] = 30;
    std::vector<std::int32_t> labels(cells.size());
    const auto all = row_major<const std::uint8_t>(cells.data(), M, N);
    const auto out = row_major(labels.data(), M, N);
    EXPECT_FALSE(codes.recode(all.band(0, 4), out.band(0, 4)));
    EXPECT_EQ(labels[0], 1);
    EXPECT_EQ(labels[1], 3);
    EXPECT_EQ(labels[2], 2);
    const auto missing = codes.recode(all.band(4, 6), out.band(4, 6));
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->kind, code_problem_kind::code_missing);
    EXPECT_EQ(missing->code, 30);
    EXPECT_EQ(missing->row, 4);
    EXPECT_EQ(missing->col, 3);

    // Column-major gives the same labels.
    std::vector<std::int32_t> by_column(cells.size());
    codes.recode(all, column_major(by_column.data(), M, N));
    for (index_t r = 0; r < M; ++r)
        for (index_t c = 0; c < N; ++c) EXPECT_EQ(by_column[r + M * c], labels[r * N + c]);
}

// A lookup table from a negative lowest code: codes far above it, up to
// INT64_MAX, must still miss it, and INT64_MIN works as a code and as nodata.
TEST(ClassCodes, Int64ExtremesBesideNegativeCodes)
{
    constexpr class_code lo = std::numeric_limits<class_code>::min(), hi = std::numeric_limits<class_code>::max();
    const class_codes codes({{-3, 0.5}, {-1, 1.0}}, {-2});
    for (const class_code missing : std::vector<class_code>{hi, hi - 1, class_code{1} << 62, lo, lo + 1, -4, 0})
        EXPECT_EQ(codes.label_of(missing), 0) << missing;
    EXPECT_EQ(codes.label_of(-2), 3);

    const class_codes with_min({{lo, 0.5}, {-3, 1.0}}, {-1});
    const std::vector<std::int64_t> cells = {lo, -3, -1, hi};
    std::vector<std::int32_t> labels(cells.size());
    const auto missing = with_min.recode(row_major<const std::int64_t>(cells.data(), 2, 2),
                                         row_major(labels.data(), 2, 2));
    EXPECT_EQ(labels, (std::vector<std::int32_t>{1, 2, 3, 0}));
    ASSERT_TRUE(missing);
    EXPECT_EQ(to_string(missing->code), "9223372036854775807");
    EXPECT_EQ(class_codes({{1, 1.0}}, {lo}).label_of(lo), 2);
}

// UInt64 cells above INT64_MAX: a nodata code becomes nodata, any other is
// reported with its exact value, never clamped or wrapped into a table code.
TEST(ClassCodes, UInt64CellsAboveInt64MaxKeepTheirValue)
{
    constexpr std::uint64_t top = std::numeric_limits<std::uint64_t>::max(), above = std::uint64_t{1} << 63;
    const class_codes codes({{5, 0.5}, {7, 0.7}}, {top, above + 5, -1});
    EXPECT_TRUE(codes.has_nodata());
    const std::vector<std::uint64_t> cells = {5, 7, top, above + 5, above - 1, above + 1};
    std::vector<std::int32_t> labels(cells.size());
    const auto all = row_major<const std::uint64_t>(cells.data(), 2, 3);
    const auto missing = codes.recode(all, row_major(labels.data(), 2, 3));
    EXPECT_EQ(labels, (std::vector<std::int32_t>{1, 2, 3, 3, 0, 0}));
    ASSERT_TRUE(missing);
    EXPECT_EQ(to_string(missing->code), "9223372036854775807");
    EXPECT_EQ(missing->row, 1);
    EXPECT_EQ(missing->col, 1);
    const std::vector<std::uint64_t> one = {above + 1};
    const auto beyond = codes.recode(row_major<const std::uint64_t>(one.data(), 1, 1), row_major(labels.data(), 1, 1));
    ASSERT_TRUE(beyond);
    EXPECT_FALSE(beyond->code.is_class_code());
    EXPECT_EQ(to_string(beyond->code), "9223372036854775809");

    // Only nodata codes above INT64_MAX: they still make a nodata label.
    EXPECT_TRUE(class_codes({{5, 0.5}}, {top}).has_nodata());
    EXPECT_EQ(to_string(top), "18446744073709551615");
    EXPECT_EQ(to_string(std::numeric_limits<std::int64_t>::min()), "-9223372036854775808");
    EXPECT_FALSE(cell_code(-1) == cell_code(top));
}

} // namespace
} // namespace rw
