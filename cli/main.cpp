// raster-maps: the five moving-window maps over GDAL rasters of class codes.
//   raster-maps varnok --table quality.csv --window 21 landcover.tif quality21.tif
#include "run_tool.hpp"
#include "tool_error.hpp"
#include "tool_options.hpp"

#include <gdal_priv.h>

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

// GDAL's warnings go to standard error unless -q; its errors are picked up
// by the tool and reported once, in its own message.
bool quiet_warnings = false;

void CPL_STDCALL on_gdal_message(CPLErr level, CPLErrorNum, const char* text)
{
    if (level == CE_Warning && !quiet_warnings) std::fprintf(stderr, "raster-maps: warning: %s\n", text);
}

// Ctrl-C (or a TERM signal) asks the run to stop between strips, so that the
// partial output is removed; a second one ends the process at once.
volatile std::sig_atomic_t stop_requested = 0;

extern "C" void on_stop_signal(int signal)
{
    stop_requested = 1;
    std::signal(signal, SIG_DFL);
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const cli::command c = cli::parse_command_line(argc, argv);
        if (!c.run) {
            std::fputs(c.help.c_str(), stdout);
            return 0;
        }
        quiet_warnings = c.run->quiet;
        GDALAllRegister();
        CPLSetErrorHandler(on_gdal_message);
        std::signal(SIGINT, on_stop_signal);
        std::signal(SIGTERM, on_stop_signal);
        cli::run_tool(*c.run, [] { return stop_requested != 0; });
        return 0;
    } catch (const rw::interrupted&) {
        std::fprintf(stderr, "raster-maps: interrupted; no output was written\n");
        return 130;
    } catch (const cli::usage_error& e) {
        std::fprintf(stderr, "raster-maps: error: %s (see raster-maps --help)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "raster-maps: error: %s\n", e.what());
        return 1;
    }
}
