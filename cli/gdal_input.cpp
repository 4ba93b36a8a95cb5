#include "gdal_input.hpp"

#include "tool_error.hpp"

#include <ogr_spatialref.h>

#include <cmath>

namespace cli {
namespace {

bool is_integer_type(GDALDataType t)
{
    switch (t) {
    case GDT_Byte:
    case GDT_UInt16:
    case GDT_Int16:
    case GDT_UInt32:
    case GDT_Int32:
    case GDT_UInt64:
    case GDT_Int64: return true;
    default: return false;
    }
}

std::string last_gdal_message()
{
    const std::string m = CPLGetLastErrorMsg();
    return m.empty() ? std::string() : ": " + m;
}

} // namespace

input_raster::input_raster(const std::string& path, int band) : path_(path)
{
    CPLErrorReset();
    dataset_.reset(GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY | GDAL_OF_VERBOSE_ERROR));
    if (!dataset_) throw tool_error("cannot open the input " + path + last_gdal_message());
    if (band > dataset_->GetRasterCount())
        throw tool_error("the input " + path + " has " + std::to_string(dataset_->GetRasterCount()) +
                         " band(s); there is no band " + std::to_string(band));
    band_ = dataset_->GetRasterBand(band);
    const GDALDataType type = band_->GetRasterDataType();
    if (!is_integer_type(type))
        throw tool_error("band " + std::to_string(band) + " of " + path + " is " +
                         GDALGetDataTypeName(type) +
                         "; the maps read class codes from a band of an integer type");
}

cell_size input_raster::pixel_metres(const std::string& window) const
{
    const std::string instead = "; give the window in cells (--window 21, circle:10) or reproject the input "
                                "to a projected CRS (gdalwarp -t_srs EPSG:...)";
    const OGRSpatialReference* crs = dataset_->GetSpatialRef();
    if (crs == nullptr || crs->IsEmpty())
        throw tool_error("the window " + window + " is in metres, but the input " + path_ + " has no CRS" + instead);
    if (!crs->IsProjected())
        throw tool_error("the window " + window + " is in metres, but the CRS of the input " + path_ + " (" +
                         (crs->GetName() ? crs->GetName() : "unnamed") + ") is " +
                         (crs->IsGeographic() ? "geographic, in degrees" : "not projected") + instead);
    double transform[6];
    if (dataset_->GetGeoTransform(transform) != CE_None)
        throw tool_error("the window " + window + " is in metres, but the input " + path_ + " has no geotransform" +
                         instead);
    if (transform[2] != 0.0 || transform[4] != 0.0)
        throw tool_error("the window " + window + " is in metres, but the input " + path_ +
                         " is rotated or sheared (a geotransform that is not north-up); give the window in "
                         "cells or warp the input north-up (gdalwarp)");
    const double metres = crs->GetLinearUnits(nullptr);
    return {std::abs(transform[5]) * metres, std::abs(transform[1]) * metres};
}

std::optional<rw::cell_code> input_raster::nodata_code() const
{
    int has = 0;
    const GDALDataType type = band_->GetRasterDataType();
    if (type == GDT_Int64) {
        const std::int64_t v = band_->GetNoDataValueAsInt64(&has);
        return has ? std::optional<rw::cell_code>(v) : std::nullopt;
    }
    if (type == GDT_UInt64) {
        const std::uint64_t v = band_->GetNoDataValueAsUInt64(&has);
        return has ? std::optional<rw::cell_code>(v) : std::nullopt;
    }
    const double v = band_->GetNoDataValue(&has);
    // A nodata value no integer cell can hold marks no cell.
    if (!has || !std::isfinite(v) || v != std::floor(v) || std::fabs(v) > 9.0e15) return std::nullopt;
    return static_cast<std::int64_t>(v);
}

gdal_label_source::gdal_label_source(const input_raster& input, const rw::class_codes& codes,
                                     std::function<void(rw::index_t)> on_rows)
    : input_(input), codes_(codes), on_rows_(std::move(on_rows))
{
}

void gdal_label_source::read(rw::index_t r0, rw::index_t r1, rw::raster_view<std::int32_t> into)
{
    switch (input_.band().GetRasterDataType()) {
    case GDT_Byte: read_as<std::uint8_t>(GDT_Byte, r0, r1, into); break;
    case GDT_UInt16: read_as<std::uint16_t>(GDT_UInt16, r0, r1, into); break;
    case GDT_Int16: read_as<std::int16_t>(GDT_Int16, r0, r1, into); break;
    case GDT_UInt32: read_as<std::uint32_t>(GDT_UInt32, r0, r1, into); break;
    case GDT_Int32: read_as<std::int32_t>(GDT_Int32, r0, r1, into); break;
    // Read as Int64, GDAL would clamp codes above INT64_MAX to it.
    case GDT_UInt64: read_as<std::uint64_t>(GDT_UInt64, r0, r1, into); break;
    default: read_as<std::int64_t>(GDT_Int64, r0, r1, into); break;
    }
    if (on_rows_) on_rows_(r1 - r0);
}

template <class T>
void gdal_label_source::read_as(GDALDataType type, rw::index_t r0, rw::index_t r1,
                                rw::raster_view<std::int32_t> into)
{
    const rw::index_t N = input_.cols(), rows = r1 - r0;
    buffer_.resize(static_cast<std::size_t>(rows * N) * sizeof(T));
    T* cells = reinterpret_cast<T*>(buffer_.data());
    CPLErrorReset();
    if (input_.band().RasterIO(GF_Read, 0, static_cast<int>(r0), static_cast<int>(N),
                               static_cast<int>(rows), cells, static_cast<int>(N),
                               static_cast<int>(rows), type, 0, 0, nullptr) != CE_None)
        throw tool_error("cannot read rows " + std::to_string(r0) + ".." + std::to_string(r1 - 1) +
                         " of " + input_.path() + last_gdal_message());
    const rw::raster_view<const T> codes{cells, rows, N, N, 1, r0, 0};
    const auto missing = codes_.recode(codes, into);
    if (missing) throw rw::invalid_codes(*missing);
}

} // namespace cli
