// raster-maps: the five moving-window maps over GDAL rasters of class codes.
//   raster-maps varnok --table quality.csv --window 21 landcover.tif quality21.tif
#include "run_tool.hpp"
#include "tool_error.hpp"
#include "tool_options.hpp"

#include <gdal_priv.h>

#include <signal.h>

#include <csignal>
#include <cstdio>
#include <exception>

namespace {

// GDAL's warnings always go to standard error, -q or not (as with
// gdal_translate -q); its errors are picked up by the tool and reported
// once, in its own message.
void CPL_STDCALL on_gdal_message(CPLErr level, CPLErrorNum, const char* text)
{
    if (level == CE_Warning) std::fprintf(stderr, "raster-maps: warning: %s\n", text);
}

// Ctrl-C, a TERM signal or a closed terminal asks the run to stop between
// strips, so that the partial output is removed; a second one ends the
// process at once. Holds the signal's number.
volatile std::sig_atomic_t stop_signal = 0;

extern "C" void on_stop_signal(int signal)
{
    stop_signal = signal;
    std::signal(signal, SIG_DFL);
}

// A signal the tool was started to ignore (nohup, a background job of a
// script) stays ignored.
void stop_on(int signal)
{
    struct sigaction now;
    if (sigaction(signal, nullptr, &now) == 0 && now.sa_handler != SIG_IGN) std::signal(signal, on_stop_signal);
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
        GDALAllRegister();
        CPLSetErrorHandler(on_gdal_message);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) stop_on(signal);
        cli::run_tool(*c.run, [] { return stop_signal != 0; });
        return 0;
    } catch (const rw::interrupted&) {
        // The shell's status for a process ended by the signal: 128 + its number.
        const int signal = stop_signal != 0 ? stop_signal : SIGINT;
        std::fprintf(stderr, "raster-maps: %s; no output was written\n",
                     signal == SIGINT ? "interrupted" : signal == SIGTERM ? "terminated" : "stopped (terminal closed)");
        return 128 + signal;
    } catch (const cli::usage_error& e) {
        std::fprintf(stderr, "raster-maps: error: %s (see raster-maps --help)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "raster-maps: error: %s\n", e.what());
        return 1;
    }
}
