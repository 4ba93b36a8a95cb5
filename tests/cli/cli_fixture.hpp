// Helpers for the raster-maps tests: a scratch directory, GeoTIFFs of class
// codes written through GDAL, runs of the tool, and outputs read back.
#pragma once

#include "maps/raster_maps.hpp"

#include <gdal_priv.h>
#include <ogr_spatialref.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
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

// The raster in UTM zone 33N at 30 m, or at `transform` in the CRS of EPSG
// code `epsg` (0: none).
inline void write_geotiff(const std::string& path, const code_raster& raster, GDALDataType type,
                          std::optional<double> nodata = std::nullopt, const double* transform_given = geotransform,
                          int epsg = 32633)
{
    GDALDriver* gtiff = GetGDALDriverManager()->GetDriverByName("GTiff");
    GDALDataset* ds = gtiff->Create(path.c_str(), static_cast<int>(raster.N),
                                    static_cast<int>(raster.M), 1, type, nullptr);
    ASSERT_NE(ds, nullptr);
    double transform[6];
    std::copy(transform_given, transform_given + 6, transform);
    ds->SetGeoTransform(transform);
    OGRSpatialReference crs;
    if (epsg != 0) {
        crs.importFromEPSG(epsg);
        ds->SetSpatialRef(&crs);
    }
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

// Every byte of a file, to show that a run left it as it was.
inline std::string file_bytes(const std::string& path)
{
    std::stringstream bytes;
    bytes << std::ifstream(path, std::ios::binary).rdbuf();
    return bytes.str();
}

struct tool_run {
    int status; // the exit status, or minus the signal that ended the tool
    std::string message; // standard error
};

// Runs raster-maps with the given arguments (already quoted where needed),
// under `wrapper` (commands that end by running the tool under a timeout)
// when given, else under a timeout of its own; a run that hangs ends with
// status 124.
inline tool_run run_tool(const scratch_dir& dir, const std::string& args, const std::string& wrapper = "")
{
    const std::string err = dir / "stderr.txt";
    const std::string line =
        (wrapper.empty() ? "timeout -k 10 300 " : wrapper) + RASTER_MAPS_TOOL + " " + args + " 2> '" + err + "'";
    const int raw = std::system(line.c_str());
    std::stringstream text;
    text << std::ifstream(err).rdbuf();
    fs::remove(err);
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text.str()};
}

// How long a test waits for the tool before it gives up on it.
inline constexpr auto patience = std::chrono::seconds(120);

// Asks done() until it answers true or patience runs out.
template <class Condition>
bool wait_until(Condition done)
{
    const auto deadline = std::chrono::steady_clock::now() + patience;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// The tool running in the background, its standard error read through a
// pipe, for tests that act while it runs. A run still going when the object
// goes is killed.
class background_run {
public:
    // stalled: the pipe is full before the tool starts, so the tool's first
    // write to standard error waits until finish() reads.
    explicit background_run(const std::string& args, bool stalled = false)
    {
        int ends[2];
        EXPECT_EQ(pipe(ends), 0);
        if (stalled) {
            fcntl(ends[1], F_SETFL, O_NONBLOCK);
            const char block[4096] = {};
            for (ssize_t n; (n = write(ends[1], block, sizeof block)) > 0;) filler_ += static_cast<std::size_t>(n);
            for (ssize_t n; (n = write(ends[1], block, 1)) > 0;) filler_ += static_cast<std::size_t>(n);
            fcntl(ends[1], F_SETFL, 0);
        }
        const std::string line = std::string("exec ") + RASTER_MAPS_TOOL + " " + args;
        pid_ = fork();
        if (pid_ == 0) {
            dup2(ends[1], 2);
            close(ends[0]);
            close(ends[1]);
            execl("/bin/sh", "sh", "-c", line.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(ends[1]);
        err_ = ends[0];
    }
    ~background_run()
    {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (err_ >= 0) close(err_);
    }
    background_run(const background_run&) = delete;
    background_run& operator=(const background_run&) = delete;

    pid_t pid() const { return pid_; }

    // Reads standard error until it holds text; false if the tool ended
    // first or patience ran out.
    bool wait_for(const std::string& text)
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (said_.find(text, filler_) == std::string::npos)
            if (!read_more(deadline)) return false;
        return true;
    }

    void signal(int number) { kill(pid_, number); }

    // Reads standard error to its end and waits for the tool; a tool still
    // running once patience runs out is killed.
    tool_run finish()
    {
        const auto deadline = std::chrono::steady_clock::now() + patience;
        while (read_more(deadline)) {
        }
        if (std::chrono::steady_clock::now() > deadline) kill(pid_, SIGKILL);
        int raw = 0;
        waitpid(pid_, &raw, 0);
        pid_ = -1;
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -WTERMSIG(raw), said_.substr(filler_)};
    }

private:
    bool read_more(std::chrono::steady_clock::time_point deadline)
    {
        using std::chrono::milliseconds;
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd p{err_, POLLIN, 0};
        if (left.count() <= 0 || poll(&p, 1, static_cast<int>(left.count())) <= 0) return false;
        char text[4096];
        const ssize_t n = read(err_, text, sizeof text);
        if (n <= 0) return false;
        said_.append(text, static_cast<std::size_t>(n));
        return true;
    }

    pid_t pid_ = -1;
    int err_ = -1;
    std::size_t filler_ = 0;
    std::string said_;
};

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
