// The output raster. A run writes it in a hidden directory beside the
// output, ".<name>.incomplete-<pid>" (output_files.hpp), under the output's
// own file name, so that every driver names its sidecar files (header,
// .aux.xml) as it will beside the output. Once complete the files are moved
// into place, the output's own file last, and the directory is removed. Any
// failure deletes what the driver made, with the driver's own delete, and the
// directory; a run killed outright leaves the directory, which the next run
// writing the same output removes.
//
// Drivers that can create a raster are written directly; those that can only
// copy one (COG, PNG, ...) get a temporary tiled GTiff first, copied at the
// end.
#pragma once

#include "gdal_input.hpp"
#include "output_files.hpp"
#include "progress_share.hpp"
#include "tool_options.hpp"

#include <cpl_string.h>

#include <string>
#include <utility>
#include <vector>

namespace cli {

using metadata_items = std::vector<std::pair<std::string, std::string>>;

// The output the command line asks for, checked before any cell is read.
struct output_target {
    // Throws tool_error when the output is a file of the input (by any name),
    // exists without --overwrite, exists as anything but a regular file, is a
    // /vsi path, or when its driver writes no file, cannot hold the output
    // type or refuses a creation option (the tool's defaults included).
    output_target(const tool_options& o, const input_raster& input);

    // Throws tool_error when writing the file `name` beside the output would
    // replace a file of the input or anything but a regular file, or, with
    // taken_too and without --overwrite, any file. (Once the map is
    // computed, the move that refuses to replace is that check, atomically.)
    void check_file(const std::string& name, bool taken_too) const;
    // The path of `name` in the output's directory.
    std::string beside(const std::string& name) const;
    // "the output <path>", or for another file "the output's file <path>".
    std::string label(const std::string& name) const;

    std::string path, file_name;
    GDALDriver* driver = nullptr;
    bool staged = false; // driver copies a temporary GTiff at the end
    GDALDataType type = GDT_Float64;
    CPLStringList options;       // creation options for driver
    CPLStringList stage_options; // for the temporary GTiff
    bool overwrite = false;
    std::string input_path;
    std::vector<std::pair<std::string, file_id>> input_files;
};

class output_raster {
public:
    // Creates the temporary output with the input's size, CRS and
    // geotransform, NaN as the band's nodata value, and the metadata.
    // Throws tool_error when it cannot, or when the driver writes no file or
    // would name a file of its own as check_file refuses.
    output_raster(const output_target& target, const input_raster& input, const metadata_items& metadata);
    ~output_raster();
    output_raster(const output_raster&) = delete;
    output_raster& operator=(const output_raster&) = delete;

    GDALRasterBand& band() const { return *dataset_->GetRasterBand(1); }
    // Whether commit() still copies the data (its share of the progress).
    bool copies() const { return target_.staged; }

    // Finishes the files and moves them into place, reporting the copy
    // still to make, if any, to `progress`; throws rw::interrupted once
    // progress was asked to stop.
    void commit(progress_share& progress);

private:
    void remove_temporaries();
    void move_into_place(const std::vector<std::string>& names);

    const output_target& target_;
    std::string work_dir_, file_, stage_;
    bool committed_ = false;
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

} // namespace cli
