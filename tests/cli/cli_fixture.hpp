// Helpers for the raster-maps tests: a scratch directory, GeoTIFFs of class
// codes written through GDAL, runs of the tool, and outputs read back.
#pragma once

#include "maps/raster_maps.hpp"

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace cli_test {

namespace fs = std::filesystem;
using rw::index_t;

inline const double geotransform[6] = {500000.0, 30.0, 0.0, 4100000.0, 0.0, -30.0};

// A fresh directory per test, removed afterwards.
class scratch_dir {
public:
    scratch_dir()
    {
        std::string pattern = (fs::temp_directory_path() / "raster-maps-test-XXXXXX").string();
        path_ = mkdtemp(pattern.data());
    }
    ~scratch_dir() { fs::remove_all(path_); }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    std::vector<std::string> files() const
    {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(path_)) names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

private:
    fs::path path_;
};

// An M x N raster of codes, row by row.
struct code_raster {
    index_t M, N;
    std::vector<std::int64_t> codes;
    std::int64_t& at(index_t r, index_t c) { return codes[static_cast<std::size_t>(r * N + c)]; }
};

inline void write_geotiff(const std::string& path, const code_raster& raster, GDALDataType type,
                          std::optional<double> nodata = std::nullopt)
{
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDataset* ds = gtiff->Create(path.c_str(), static_cast<int>(raster.N),
                                    static_cast<int>(raster.M), 1, type, nullptr);
    ASSERT_NE(ds, nullptr);
    double transform[6];
    std::copy(geotransform, geotransform + 6, transform);
    ds->SetGeoTransform(transform);
    OGRSpatialReference crs;
    crs.importFromEPSG(32633);
    ds->SetSpatialRef(&crs);
    if (nodata) ds->GetRasterBand(1)->SetNoDataValue(*nodata);
    std::vector<std::int64_t> cells = raster.codes;
    ASSERT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Write, 0, 0, static_cast<int>(raster.N),
                                             static_cast<int>(raster.M), cells.data(),
                                             static_cast<int>(raster.N), static_cast<int>(raster.M),
                                             GDT_Int64, 0, 0, nullptr),
              CE_None);
    GDALClose(ds);
}

inline void write_text(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

struct tool_run {
    int status;
    std::string message; // standard error
};

// Runs raster-maps with the given arguments (already quoted where needed),
// under `wrapper` (a command such as timeout) when given.
inline tool_run run_tool(const scratch_dir& dir, const std::string& args, const std::string& wrapper = "")
{
    const std::string err = dir / "stderr.txt";
    const std::string line = wrapper + RASTER_MAPS_TOOL + " " + args + " 2> '" + err + "'";
    const int raw = std::system(line.c_str());
    std::stringstream text;
    text << std::ifstream(err).rdbuf();
    fs::remove(err);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
}

// Band 1 of an output, row by row.
struct output_raster {
    index_t M = 0, N = 0;
    std::vector<double> cells;
    double at(index_t r, index_t c) const { return cells[static_cast<std::size_t>(r * N + c)]; }
};

inline output_raster read_output(const std::string& path)
{
    output_raster out;
    GDALDataset* ds = GDALDataset::Open(path.c_str(), GDAL_OF_RASTER | GDAL_OF_READONLY);
    EXPECT_NE(ds, nullptr) << path;
    if (!ds) return out;
    out.M = ds->GetRasterYSize();
    out.N = ds->GetRasterXSize();
    out.cells.resize(static_cast<std::size_t>(out.M * out.N));
    EXPECT_EQ(ds->GetRasterBand(1)->RasterIO(GF_Read, 0, 0, static_cast<int>(out.N),
                                             static_cast<int>(out.M), out.cells.data(),
                                             static_cast<int>(out.N), static_cast<int>(out.M),
                                             GDT_Float64, 0, 0, nullptr),
              CE_None);
    GDALClose(ds);
    return out;
}

// The plug-in's path: the codes recoded to labels 1..K by increasing code
// (nodata codes to K + 1), column-major, run through the core in memory.
inline std::vector<double> plugin_map(const code_raster& raster, const std::map<std::int64_t, double>& table,
                                      const std::vector<std::int64_t>& nodata, rw::map_request q)
{
    std::map<std::int64_t, std::int32_t> label;
    std::vector<double> values;
    for (const auto& [code, value] : table) {
        label[code] = static_cast<std::int32_t>(values.size() + 1);
        values.push_back(value);
    }
    const auto K = static_cast<std::int32_t>(values.size());
    for (const std::int64_t code : nodata) label[code] = K + 1;
    const index_t M = raster.M, N = raster.N;
    std::vector<std::int32_t> labels(static_cast<std::size_t>(M * N));
    for (index_t r = 0; r < M; ++r)
        for (index_t c = 0; c < N; ++c) labels[r + M * c] = label.at(raster.codes[r * N + c]);
    q.table = values.data();
    q.K = K;
    q.nodata = !nodata.empty();
    std::vector<double> out(labels.size(), 0.0);
    rw::run_map(q, rw::column_major<const std::int32_t>(labels.data(), M, N), rw::column_major(out.data(), M, N));
    return out;
}

} // namespace cli_test
