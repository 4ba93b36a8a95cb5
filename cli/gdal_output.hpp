// The output raster. It is written under a temporary name next to the
// output ("<name>.partial-<pid>.<ext>") and renamed into place only once
// complete, so a failed or interrupted run never leaves a file that looks
// finished; any failure deletes the temporary files.
//
// Drivers that can create a raster are written directly; those that can only
// copy one (COG, PNG, ...) get a temporary tiled GTiff first, copied at the
// end.
#pragma once

#include "gdal_input.hpp"
#include "term_progress.hpp"
#include "tool_options.hpp"

#include <string>
#include <utility>
#include <vector>

namespace cli {

using metadata_items = std::vector<std::pair<std::string, std::string>>;

class output_raster {
public:
    // Creates the temporary output with the input's size, CRS and
    // geotransform, NaN as the band's nodata value, and the metadata.
    // Throws tool_error when the output exists without --overwrite, or the
    // format cannot write rasters.
    output_raster(const tool_options& o, const input_raster& input, const metadata_items& metadata);
    ~output_raster();
    output_raster(const output_raster&) = delete;
    output_raster& operator=(const output_raster&) = delete;

    GDALRasterBand& band() const { return *dataset_->GetRasterBand(1); }
    // Whether commit() still copies the data (its share of the progress).
    bool copies() const { return staged_; }

    // Finishes the file and moves it to the output's name.
    void commit(term_progress& progress, double from);

private:
    void remove_temporaries();

    std::string output_, final_temp_, stage_temp_;
    GDALDriver* driver_ = nullptr;
    bool staged_ = false, committed_ = false;
    std::vector<std::pair<std::string, std::string>> final_options_;
    dataset_ptr dataset_;
};

// Writes finished output rows through RasterIO; cells that no window scores
// become NaN, or stay 0 with --border zero.
class gdal_output_sink final : public rw::output_sink {
public:
    gdal_output_sink(GDALRasterBand& band, const rw::map_request& q, rw::index_t M, rw::index_t N,
                     bool border_zero)
        : band_(band), q_(q), M_(M), N_(N), border_zero_(border_zero)
    {
    }
    void write(rw::index_t r0, rw::index_t r1, rw::raster_view<const double> rows) override;

private:
    GDALRasterBand& band_;
    rw::map_request q_;
    rw::index_t M_, N_;
    bool border_zero_;
    std::vector<double> buffer_;
};

// Whether a GDAL dataset or file exists at path.
bool path_exists(const std::string& path);

} // namespace cli
