#include "gdal_output.hpp"

#include "tool_error.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>

namespace cli {
namespace {

namespace fs = std::filesystem;

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

GDALDriver* gtiff_driver() { return GetGDALDriverManager()->GetDriverByName("GTiff"); }

// GDAL's compression threads follow the maps' own rule (rw::thread_count),
// so that no request, --threads or --co NUM_THREADS, starts hundreds.
std::string thread_option(long long requested) { return std::to_string(rw::thread_count(requested)); }

// GTiff: DEFLATE at level 1 compresses the maps' doubles within 10% of
// level 6 in half the time, and every TIFF reader takes it.
CPLStringList default_options(const std::string& driver, int threads)
{
    CPLStringList list;
    if (driver == "GTiff") {
        list.SetNameValue("TILED", "YES");
        list.SetNameValue("COMPRESS", "DEFLATE");
        list.SetNameValue("ZLEVEL", "1");
        list.SetNameValue("PREDICTOR", "3");
        list.SetNameValue("BIGTIFF", "IF_SAFER");
        list.SetNameValue("NUM_THREADS", thread_option(threads).c_str());
    } else if (driver == "COG") {
        list.SetNameValue("COMPRESS", "DEFLATE");
        list.SetNameValue("PREDICTOR", "YES");
        list.SetNameValue("BIGTIFF", "IF_SAFER");
        list.SetNameValue("NUM_THREADS", thread_option(threads).c_str());
    }
    return list;
}

// The temporary GTiff that a copying driver reads at the end: fast to write
// and read back; ZSTD where this GDAL has it.
CPLStringList stage_options(int threads)
{
    const char* known = gtiff_driver()->GetMetadataItem(GDAL_DMD_CREATIONOPTIONLIST);
    const bool zstd = known != nullptr && std::strstr(known, "ZSTD") != nullptr;
    CPLStringList list;
    list.SetNameValue("TILED", "YES");
    list.SetNameValue("COMPRESS", zstd ? "ZSTD" : "DEFLATE");
    list.SetNameValue(zstd ? "ZSTD_LEVEL" : "ZLEVEL", "1");
    list.SetNameValue("PREDICTOR", "3");
    list.SetNameValue("BIGTIFF", "YES");
    list.SetNameValue("NUM_THREADS", thread_option(threads).c_str());
    return list;
}

void CPL_STDCALL collect_message(CPLErr, CPLErrorNum, const char* text)
{
    auto& messages = *static_cast<std::string*>(CPLGetErrorHandlerUserData());
    if (!messages.empty()) messages += "; ";
    messages += text;
}

// GDAL only warns of an unknown creation option or value and then ignores
// it; a map written with settings other than those asked for is an error.
void check_options(GDALDriver* d, const CPLStringList& options)
{
    std::string problems;
    int valid = TRUE;
    {
        CPLErrorHandlerPusher collect(collect_message, &problems);
        valid = GDALValidateCreationOptions(d, options.List());
    }
    if (valid) return;
    std::replace(problems.begin(), problems.end(), '\n', ' ');
    throw tool_error("the " + std::string(d->GetDescription()) + " driver refuses the creation options: " +
                     problems);
}

bool writes_type(GDALDriver* d, GDALDataType type)
{
    const char* types = d->GetMetadataItem(GDAL_DMD_CREATIONDATATYPES);
    if (types == nullptr) return true; // undeclared: the driver decides when creating
    const CPLStringList list(CSLTokenizeString(types));
    return list.FindString(GDALGetDataTypeName(type)) >= 0;
}

// A driver that would store the map's fractions and NaN as other types
// (PNG as Byte, with only a warning) would write a different map.
void check_type(GDALDriver* d, GDALDataType type)
{
    if (writes_type(d, type)) return;
    const std::string name = d->GetDescription();
    const GDALDataType other = type == GDT_Float64 ? GDT_Float32 : GDT_Float64;
    if (writes_type(d, other))
        throw tool_error("the " + name + " driver cannot write " + GDALGetDataTypeName(type) + " rasters; --type " +
                         GDALGetDataTypeName(other) + " works");
    throw tool_error("the " + name + " driver writes only " + d->GetMetadataItem(GDAL_DMD_CREATIONDATATYPES) +
                     " rasters, which cannot hold the map's values (fractions and NaN); use -of GTiff or -of COG");
}

void delete_with(GDALDriver* d, const std::string& path)
{
    if (!path.empty() && name_taken(path)) d->Delete(path.c_str());
}

// The files of an existing output named after it (its .aux.xml, .ovr,
// header, ...): left beside the new output they would be read as part of it.
std::vector<std::string> old_output_files(const output_target& t)
{
    if (!name_taken(t.path)) return {};
    CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    const dataset_ptr old(GDALDataset::Open(t.path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY));
    if (!old) return {};
    const CPLStringList files(old->GetFileList());
    const std::string stem = std::string(CPLGetBasename(t.path.c_str())) + ".";
    std::vector<std::string> names;
    for (int i = 0; i < files.size(); ++i) {
        const fs::path f(files[i]);
        if (f.parent_path() == fs::path(t.path).parent_path() && f.filename().string().rfind(stem, 0) == 0)
            names.push_back(f.filename().string());
    }
    return names;
}

} // namespace

output_target::output_target(const tool_options& o, const input_raster& input)
    : path(o.output), file_name(fs::path(o.output).filename().string()),
      type(o.float32 ? GDT_Float32 : GDT_Float64), overwrite(o.overwrite), input_path(o.input)
{
    if (path.rfind("/vsi", 0) == 0)
        throw tool_error("the output " + path + " is a GDAL virtual file; raster-maps writes the map beside " +
                         "the output and moves it into place once complete, so give a path of the file " +
                         "system (gdal_translate can copy the result on)");
    if (file_name.empty() || file_name == "." || file_name == "..")
        throw tool_error("the output " + path + " names a directory; give the path of a file");
    if (const auto id = id_of(input_path)) input_files.emplace_back(input_path, *id);
    const CPLStringList files(input.dataset().GetFileList());
    for (int i = 0; i < files.size(); ++i)
        if (const auto id = id_of(files[i])) input_files.emplace_back(files[i], *id);
    check_file(file_name, true);

    driver = GetGDALDriverManager()->GetDriverByName(o.format.c_str());
    if (driver == nullptr || !has_capability(driver, GDAL_DCAP_RASTER))
        throw tool_error("unknown raster output format '" + o.format + "' (see gdalinfo --formats)");
    const std::string name = driver->GetDescription();
    if (name == "MEM")
        throw tool_error("the MEM driver keeps rasters in memory and writes no file; use a format that "
                         "writes files, such as -of GTiff or -of COG");
    if (name == "VRT")
        throw tool_error("a VRT only describes other rasters and cannot hold the map's values; use -of GTiff "
                         "or -of COG (gdalbuildvrt can then describe the result)");
    const bool creates = has_capability(driver, GDAL_DCAP_CREATE);
    if (!creates && !has_capability(driver, GDAL_DCAP_CREATECOPY))
        throw tool_error("the " + name + " driver cannot write rasters");
    staged = !creates;
    check_type(driver, type);

    options = default_options(name, o.threads);
    for (const auto& [k, v] : o.creation_options) {
        char* end = nullptr;
        const long long n = std::strtoll(v.c_str(), &end, 10);
        const bool whole = !v.empty() && *end == '\0';
        const bool threads = EQUAL(k.c_str(), "NUM_THREADS") && whole;
        options.SetNameValue(k.c_str(), threads ? thread_option(n).c_str() : v.c_str());
    }
    check_options(driver, options);
    if (staged) {
        stage_options = cli::stage_options(o.threads);
        check_options(gtiff_driver(), stage_options);
    }
}

std::string output_target::beside(const std::string& name) const
{
    return (fs::path(path).parent_path() / name).string();
}

std::string output_target::label(const std::string& name) const
{
    return name == file_name ? "the output " + path : "the output's file " + beside(name);
}

void output_target::check_file(const std::string& name, bool taken_too) const
{
    const std::string at = beside(name);
    if (const auto id = id_of(at))
        for (const auto& [file, input_id] : input_files)
            if (*id == input_id)
                throw tool_error(label(name) +
                                 (file == input_path ? " is the input " + input_path
                                                     : " is " + file + ", a file of the input " + input_path) +
                                 "; write the map to another file");
    if (const std::string kind = special_kind(at); !kind.empty())
        throw tool_error(label(name) + " is " + kind + "; raster-maps writes and replaces regular files only");
    if (taken_too && !overwrite && name_taken(at))
        throw tool_error(label(name) + " exists; use --overwrite to replace it");
}

output_raster::output_raster(const output_target& target, const input_raster& input,
                             const metadata_items& metadata)
    : target_(target), work_dir_(work_dir_of(target.path, getpid()))
{
    // A directory of this process's id can only be left by an earlier
    // process that had the same id.
    remove_work_dir(work_dir_);
    if (::mkdir(work_dir_.c_str(), 0700) != 0)
        throw tool_error("cannot create the output " + target.path + ": cannot make the directory " + work_dir_ +
                         ": " + std::strerror(errno));
    file_ = (fs::path(work_dir_) / target.file_name).string();
    if (target.staged) stage_ = file_ + ".stage.tif";
    try {
        GDALDriver* writer = target.staged ? gtiff_driver() : target.driver;
        CPLErrorReset();
        dataset_.reset(writer->Create((target.staged ? stage_ : file_).c_str(), static_cast<int>(input.cols()),
                                      static_cast<int>(input.rows()), 1, target.type,
                                      (target.staged ? target.stage_options : target.options).List()));
        if (!dataset_) throw tool_error("cannot create the output " + target.path + last_gdal_message());
        double transform[6];
        if (input.dataset().GetGeoTransform(transform) == CE_None) dataset_->SetGeoTransform(transform);
        if (const OGRSpatialReference* crs = input.dataset().GetSpatialRef()) dataset_->SetSpatialRef(crs);
        for (const auto& [k, v] : metadata) dataset_->SetMetadataItem(k.c_str(), v.c_str());
        band().SetNoDataValue(std::numeric_limits<double>::quiet_NaN());
        for (const auto& [k, v] : metadata)
            if (k == "RASTER_MAPS_MAP") band().SetDescription(v.c_str());
        if (!target.staged) {
            // The files the driver names now (a header, an .aux.xml) are
            // checked before the map is computed, not only once it is.
            const CPLStringList files(dataset_->GetFileList());
            if (files.empty() && !name_taken(file_))
                throw tool_error("the " + std::string(target.driver->GetDescription()) +
                                 " driver writes no file; use a format that writes files, such as -of GTiff");
            for (int i = 0; i < files.size(); ++i) {
                const fs::path f(files[i]);
                if (f.parent_path() == fs::path(work_dir_)) target.check_file(f.filename().string(), true);
            }
        }
    } catch (...) {
        remove_temporaries();
        throw;
    }
}

output_raster::~output_raster()
{
    if (!committed_) remove_temporaries();
}

void output_raster::remove_temporaries()
{
    CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
    dataset_.reset();
    delete_with(gtiff_driver(), stage_);
    delete_with(target_.driver, file_);
    remove_work_dir(work_dir_);
}

void output_raster::commit(progress_share& progress)
{
    CPLErrorReset();
    dataset_->FlushCache(false);
    if (CPLGetLastErrorType() >= CE_Failure)
        throw tool_error("cannot write the output " + target_.path + last_gdal_message());
    if (target_.staged) {
        dataset_ptr copy(target_.driver->CreateCopy(file_.c_str(), dataset_.get(), FALSE, target_.options.List(),
                                                    progress_share::function, &progress));
        if (progress.stop_requested()) throw rw::interrupted();
        if (!copy || CPLGetLastErrorType() >= CE_Failure)
            throw tool_error("cannot write the output " + target_.path + last_gdal_message());
        dataset_ = std::move(copy);
    }
    dataset_.reset(); // closes, which for most drivers writes what is left
    if (CPLGetLastErrorType() >= CE_Failure)
        throw tool_error("cannot write the output " + target_.path + last_gdal_message());
    if (target_.staged) {
        CPLErrorHandlerPusher quiet(CPLQuietErrorHandler);
        delete_with(gtiff_driver(), stage_);
    }

    const std::string stage_name = fs::path(stage_).filename().string();
    std::vector<std::string> names = regular_files_in(work_dir_);
    std::erase_if(names, [&](const std::string& n) { return !stage_.empty() && n.rfind(stage_name, 0) == 0; });
    if (std::find(names.begin(), names.end(), target_.file_name) == names.end())
        throw tool_error("the " + std::string(target_.driver->GetDescription()) + " driver wrote no file " +
                         target_.file_name + "; use a format that writes files, such as -of GTiff");
    move_into_place(names);
    remove_work_dir(work_dir_);
    committed_ = true;
    progress.report(1.0);
}

void output_raster::move_into_place(const std::vector<std::string>& names)
{
    // The output's own file last: until it is in place the output is absent
    // (or still the old one), never a file without its header.
    std::vector<std::string> order = names;
    std::stable_partition(order.begin(), order.end(), [&](const std::string& n) { return n != target_.file_name; });
    for (const std::string& n : order) target_.check_file(n, false);
    const std::vector<std::string> old = target_.overwrite ? old_output_files(target_) : std::vector<std::string>{};

    std::vector<std::string> moved;
    for (const std::string& n : order) {
        const int error = move_file((fs::path(work_dir_) / n).string(), target_.beside(n), target_.overwrite);
        if (error == 0) {
            moved.push_back(n);
            continue;
        }
        // Without --overwrite, whatever this run moved had no file before it.
        if (!target_.overwrite)
            for (const std::string& m : moved) ::unlink(target_.beside(m).c_str());
        if (error == EEXIST && !target_.overwrite)
            throw tool_error(target_.label(n) + " appeared while the map ran; use --overwrite to replace it");
        throw tool_error("cannot move the finished output to " + target_.beside(n) + ": " + std::strerror(error));
    }
    for (const std::string& n : old) {
        const std::string at = target_.beside(n);
        const auto id = id_of(at);
        const bool of_input = id && std::any_of(target_.input_files.begin(), target_.input_files.end(),
                                                [&](const auto& f) { return f.second == *id; });
        struct stat st;
        if (std::find(names.begin(), names.end(), n) == names.end() && !of_input &&
            ::lstat(at.c_str(), &st) == 0 && S_ISREG(st.st_mode))
            ::unlink(at.c_str());
    }
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
