// raster-maps: the five moving-window maps over GDAL rasters of class codes.
//   raster-maps varnok --table quality.csv --window 21 landcover.tif quality21.tif
#include "run_tool.hpp"
#include "tool_error.hpp"
#include "tool_options.hpp"

#include <gdal_priv.h>

#include <signal.h>
#include <unistd.h>

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
// strips (through its progress function), so that the partial output is
// removed; a second one ends the process at once. Holds the signal's number.
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

// The run's progress: GDAL's bar (or nothing with -q), which also tells the
// run to stop once a stop signal came.
struct progress_bar {
    GDALProgressFunc show;
    double shown = -1.0; // the last fraction shown; -1 before the first
};

int CPL_STDCALL show_progress(double done, const char* message, void* data)
{
    if (stop_signal != 0) return FALSE;
    auto& bar = *static_cast<progress_bar*>(data);
    bar.shown = done;
    return bar.show(done, message, nullptr);
}

// A bar cut short by a failure ends its line before the error message.
void end_line(const progress_bar& bar)
{
    if (bar.show != GDALDummyProgress && bar.shown >= 0.0 && bar.shown < 1.0) std::fputc('\n', stderr);
}

} // namespace

int main(int argc, char** argv)
{
    progress_bar bar{GDALTermProgress};
    try {
        cli::command_line command_line;
        const cli::command c = command_line.parse(argc, argv);
        if (!c.run) {
            std::fputs(c.text.c_str(), stdout);
            return 0;
        }
        if (c.run->quiet) bar.show = GDALDummyProgress;
        // GDAL's bar writes to standard output. A run writes nothing else
        // there, and its notes and errors go to standard error, so the bar
        // joins them, unbuffered to keep their order, and standard output
        // stays empty for whatever a pipe expects of it.
        std::fflush(stdout);
        dup2(STDERR_FILENO, STDOUT_FILENO);
        std::setvbuf(stdout, nullptr, _IONBF, 0);
        GDALAllRegister();
        CPLSetErrorHandler(on_gdal_message);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) stop_on(signal);
        cli::run_tool(*c.run, show_progress, &bar);
        return 0;
    } catch (const rw::interrupted&) {
        end_line(bar);
        // The shell's status for a process ended by the signal: 128 + its number.
        const int signal = stop_signal != 0 ? stop_signal : SIGINT;
        std::fprintf(stderr, "raster-maps: %s; no output was written\n",
                     signal == SIGINT ? "interrupted" : signal == SIGTERM ? "terminated" : "stopped (terminal closed)");
        return 128 + signal;
    } catch (const cli::usage_error& e) {
        std::fprintf(stderr, "raster-maps: error: %s (see raster-maps --help)\n", e.what());
        return 2;
    } catch (const std::exception& e) {
        end_line(bar);
        std::fprintf(stderr, "raster-maps: error: %s\n", e.what());
        return 1;
    }
}
