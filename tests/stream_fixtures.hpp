// A label source and an output sink over rasters in memory, in any layout,
// for the tests of the streamed paths: they stand in for a file reader and
// writer.
#pragma once

#include "kernels/row_strips.hpp"

#include <gtest/gtest.h>

#include <cstdint>

namespace rw::test {

// Hands out rows of a raster in memory and counts the rows read.
class view_source final : public label_source {
public:
    explicit view_source(raster_view<const std::int32_t> labels) : labels_(labels) {}
    void read(index_t r0, index_t r1, raster_view<std::int32_t> into) override
    {
        for (index_t r = r0; r < r1; ++r)
            for (index_t c = 0; c < into.cols; ++c) into(r, c) = labels_(r, c);
        rows_read += r1 - r0;
    }
    index_t rows_read = 0;

private:
    raster_view<const std::int32_t> labels_;
};

// Writes output rows into a raster in memory (or nowhere, for an empty
// view), checking that every row comes once and in order.
class view_sink final : public output_sink {
public:
    explicit view_sink(raster_view<double> out = {}) : out_(out) {}
    void write(index_t r0, index_t r1, raster_view<const double> rows) override
    {
        EXPECT_EQ(r0, next) << "rows out of order";
        if (out_.data != nullptr)
            for (index_t r = r0; r < r1; ++r)
                for (index_t c = 0; c < rows.cols; ++c) out_(r, c) = rows(r, c);
        next = r1;
    }
    index_t next = 0;

private:
    raster_view<double> out_;
};

} // namespace rw::test
