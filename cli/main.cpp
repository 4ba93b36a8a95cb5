// raster-maps: the five moving-window maps over GDAL rasters of class codes.
//   raster-maps varnok --table quality.csv --window 21 landcover.tif quality21.tif
#include "run_tool.hpp"
#include "tool_error.hpp"
#include "tool_options.hpp"

#include <gdal_priv.h>

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
        cli::run_tool(*c.run);
        return 0;
    } catch (const cli::usage_error& e) {
        std::fprintf(stderr, "raster-maps: error: %s (see raster-maps --help)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "raster-maps: error: %s\n", e.what());
        return 1;
    }
}
