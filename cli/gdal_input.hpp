// The input raster: one integer band of class codes read through GDAL, and
// the label source that recodes its rows to labels as the core reads them.
#pragma once

#include "maps/class_codes.hpp"
#include "maps/raster_maps.hpp"
#include "window_option.hpp"

#include <gdal_priv.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace cli {

struct gdal_closer {
    void operator()(GDALDataset* d) const { GDALClose(GDALDataset::ToHandle(d)); }
};
using dataset_ptr = std::unique_ptr<GDALDataset, gdal_closer>;

class input_raster {
public:
    // Opens band `band` of path; throws tool_error when the file cannot be
    // read or the band is missing or not of an integer type.
    input_raster(const std::string& path, int band);

    rw::index_t rows() const { return band_->GetYSize(); }
    rw::index_t cols() const { return band_->GetXSize(); }
    GDALDataset& dataset() const { return *dataset_; }
    GDALRasterBand& band() const { return *band_; }
    const std::string& path() const { return path_; }
    // The band's own nodata value when it is a whole number.
    std::optional<rw::cell_code> nodata_code() const;
    // The size of a pixel in metres, rows by columns, from the geotransform
    // and the linear unit of a projected CRS. Throws tool_error, saying
    // what to do instead, for a raster without a projected CRS or a
    // north-up geotransform; `window` names the window in that error.
    cell_size pixel_metres(const std::string& window) const;

private:
    std::string path_;
    dataset_ptr dataset_;
    GDALRasterBand* band_ = nullptr;
};

// Reads rows of the band and writes their labels; a code neither in the
// table nor nodata stops the run with rw::invalid_codes, naming the code and
// its cell. on_rows(n) is told of every n rows read.
class gdal_label_source final : public rw::label_source {
public:
    gdal_label_source(const input_raster& input, const rw::class_codes& codes,
                      std::function<void(rw::index_t)> on_rows);
    void read(rw::index_t r0, rw::index_t r1, rw::raster_view<std::int32_t> into) override;

private:
    template <class T>
    void read_as(GDALDataType type, rw::index_t r0, rw::index_t r1, rw::raster_view<std::int32_t> into);

    const input_raster& input_;
    const rw::class_codes& codes_;
    std::function<void(rw::index_t)> on_rows_;
    std::vector<unsigned char> buffer_;
};

} // namespace cli
