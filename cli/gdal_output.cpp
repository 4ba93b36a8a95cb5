#include "gdal_output.hpp"

#include "tool_error.hpp"

#include <cpl_string.h>
#include <cpl_vsi.h>
#include <unistd.h>

#include <cstdio>
#include <limits>
#include <thread>

namespace cli {
namespace {

std::string last_gdal_message()
{
    const std::string m = CPLGetLastErrorMsg();
    return m.empty() ? std::string() : ": " + m;
}

bool has_capability(GDALDriver* d, const char* cap)
{
    const char* v = d->GetMetadataItem(cap);
    return v != nullptr && EQUAL(v, "YES");
}

// "dir/name.partial-<pid><tag>.ext", in the output's own directory so that
// the rename stays on one file system.
std::string temporary_name(const std::string& output, const std::string& tag, const std::string& ext)
{
    const std::string dir = CPLGetPath(output.c_str()), base = CPLGetBasename(output.c_str());
    const std::string name = base + ".partial-" + std::to_string(getpid()) + tag;
    return CPLFormFilename(dir.empty() ? nullptr : dir.c_str(), name.c_str(), ext.empty() ? nullptr : ext.c_str());
}

// defaults, each replaced by the user's option of the same name.
CPLStringList options_of(const std::vector<std::pair<std::string, std::string>>& defaults,
                         const std::vector<std::pair<std::string, std::string>>& user)
{
    CPLStringList list;
    for (const auto& [k, v] : defaults) list.SetNameValue(k.c_str(), v.c_str());
    for (const auto& [k, v] : user) list.SetNameValue(k.c_str(), v.c_str());
    return list;
}

// GTiff: DEFLATE at level 1 compresses the maps' doubles within 10% of
// level 6 in half the time, and every TIFF reader takes it.
std::vector<std::pair<std::string, std::string>> default_options(const std::string& format, int threads)
{
    const std::string t = threads > 0 ? std::to_string(threads) : "ALL_CPUS";
    if (EQUAL(format.c_str(), "GTiff"))
        return {{"TILED", "YES"}, {"COMPRESS", "DEFLATE"}, {"ZLEVEL", "1"}, {"PREDICTOR", "3"},
                {"BIGTIFF", "IF_SAFER"}, {"NUM_THREADS", t}};
    if (EQUAL(format.c_str(), "COG"))
        return {{"COMPRESS", "DEFLATE"}, {"PREDICTOR", "YES"}, {"BIGTIFF", "IF_SAFER"},
                {"NUM_THREADS", t}};
    return {};
}

void delete_dataset(const std::string& path)
{
    if (!path_exists(path)) return;
    CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    GDALDriverH d = GDALIdentifyDriver(path.c_str(), nullptr);
    if (d == nullptr || GDALDeleteDataset(d, path.c_str()) != CE_None) VSIUnlink(path.c_str());
}

struct scaled_progress {
    term_progress* bar;
    double from, to;
};

int CPL_STDCALL report_progress(double done, const char*, void* data)
{
    auto* p = static_cast<scaled_progress*>(data);
    (*p->bar)(p->from + (p->to - p->from) * done);
    return TRUE;
}

} // namespace

bool path_exists(const std::string& path)
{
    VSIStatBufL st;
    return VSIStatL(path.c_str(), &st) == 0;
}

output_raster::output_raster(const tool_options& o, const input_raster& input,
                             const metadata_items& metadata)
    : output_(o.output)
{
    if (path_exists(o.output) && !o.overwrite)
        throw tool_error("the output " + o.output + " exists; use --overwrite to replace it");
    driver_ = GetGDALDriverManager()->GetDriverByName(o.format.c_str());
    if (driver_ == nullptr || !has_capability(driver_, GDAL_DCAP_RASTER))
        throw tool_error("unknown raster output format '" + o.format + "' (see gdalinfo --formats)");
    const bool creates = has_capability(driver_, GDAL_DCAP_CREATE);
    if (!creates && !has_capability(driver_, GDAL_DCAP_CREATECOPY))
        throw tool_error("the " + o.format + " driver cannot write rasters");
    staged_ = !creates;

    const std::string ext = CPLGetExtension(o.output.c_str());
    final_temp_ = temporary_name(o.output, "", ext);
    GDALDriver* writer = driver_;
    std::string path = final_temp_;
    CPLStringList options;
    if (staged_) {
        writer = GetGDALDriverManager()->GetDriverByName("GTiff");
        stage_temp_ = temporary_name(o.output, ".stage", "tif");
        path = stage_temp_;
        options = options_of({{"TILED", "YES"}, {"COMPRESS", "ZSTD"}, {"ZSTD_LEVEL", "1"},
                              {"PREDICTOR", "3"}, {"BIGTIFF", "YES"}},
                             {});
        final_options_ = default_options(o.format, o.threads);
        for (const auto& kv : o.creation_options) final_options_.push_back(kv);
    } else
        options = options_of(default_options(o.format, o.threads), o.creation_options);

    CPLErrorReset();
    dataset_.reset(writer->Create(path.c_str(), static_cast<int>(input.cols()),
                                  static_cast<int>(input.rows()), 1,
                                  o.float32 ? GDT_Float32 : GDT_Float64, options.List()));
    if (!dataset_) {
        remove_temporaries();
        throw tool_error("cannot create the output " + o.output + last_gdal_message());
    }
    double transform[6];
    if (input.dataset().GetGeoTransform(transform) == CE_None) dataset_->SetGeoTransform(transform);
    if (const OGRSpatialReference* crs = input.dataset().GetSpatialRef()) dataset_->SetSpatialRef(crs);
    for (const auto& [k, v] : metadata) dataset_->SetMetadataItem(k.c_str(), v.c_str());
    band().SetNoDataValue(std::numeric_limits<double>::quiet_NaN());
    band().SetDescription(map_name(o.map));
}

output_raster::~output_raster()
{
    if (!committed_) remove_temporaries();
}

void output_raster::remove_temporaries()
{
    dataset_.reset();
    delete_dataset(stage_temp_);
    delete_dataset(final_temp_);
}

void output_raster::commit(term_progress& progress, double from)
{
    CPLErrorReset();
    dataset_->FlushCache(false);
    if (CPLGetLastErrorType() >= CE_Failure)
        throw tool_error("cannot write the output " + output_ + last_gdal_message());
    if (staged_) {
        scaled_progress share{&progress, from, 1.0};
        const CPLStringList options = options_of(final_options_, {});
        dataset_ptr copy(driver_->CreateCopy(final_temp_.c_str(), dataset_.get(), FALSE,
                                             options.List(), report_progress, &share));
        if (!copy || CPLGetLastErrorType() >= CE_Failure)
            throw tool_error("cannot write the output " + output_ + last_gdal_message());
        dataset_ = std::move(copy);
    }
    const CPLStringList files(dataset_->GetFileList());
    dataset_.reset(); // closes, which for most drivers writes what is left
    if (CPLGetLastErrorType() >= CE_Failure)
        throw tool_error("cannot write the output " + output_ + last_gdal_message());
    delete_dataset(stage_temp_);

    // One file: rename over any old output at once. Several (a header, a
    // world file, ...): the old dataset goes first.
    if (files.Count() != 1 && path_exists(output_)) delete_dataset(output_);
    const CPLErr moved = files.Count() == 1
                             ? (VSIRename(final_temp_.c_str(), output_.c_str()) == 0 ? CE_None : CE_Failure)
                             : driver_->Rename(output_.c_str(), final_temp_.c_str());
    if (moved != CE_None)
        throw tool_error("cannot move the finished output to " + output_ + last_gdal_message());
    committed_ = true;
    progress(1.0);
}

void gdal_output_sink::write(rw::index_t r0, rw::index_t r1, rw::raster_view<const double> rows)
{
    const rw::index_t n = r1 - r0;
    buffer_.resize(static_cast<std::size_t>(n * N_));
    const rw::raster_view<double> out{buffer_.data(), n, N_, N_, 1, r0, 0};
    for (rw::index_t r = r0; r < r1; ++r)
        for (rw::index_t c = 0; c < N_; ++c) out(r, c) = rows(r, c);
    if (!border_zero_) rw::fill_unscored(q_, M_, N_, out, std::numeric_limits<double>::quiet_NaN());
    CPLErrorReset();
    if (band_.RasterIO(GF_Write, 0, static_cast<int>(r0), static_cast<int>(N_), static_cast<int>(n),
                       buffer_.data(), static_cast<int>(N_), static_cast<int>(n), GDT_Float64, 0, 0,
                       nullptr) != CE_None)
        throw tool_error("cannot write rows " + std::to_string(r0) + ".." + std::to_string(r1 - 1) +
                         " of the output" + last_gdal_message());
}

} // namespace cli
