// The one layer between the MEX host and the core: it checks and reads the
// arguments into a map request and raster views, and turns every failure
// into a host error with an identifier "<Plugin>:<kind>". Each gateway then
// reads as: check, read, call the core, return.
#pragma once

#include "mex.h"

#include "host_interrupt.hpp"
#include "kernels/machine_memory.hpp"
#include "maps/problem_text.hpp"
#include "maps/raster_maps.hpp"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <new>
#include <string>
#include <string_view>

#define MEX_ENTRY extern "C" __attribute__((visibility("default")))

namespace gw {

// A failure inside a gateway; run() reports it once every object is gone.
struct gateway_error {
    std::string_view kind; // second half of the identifier, e.g. "badLabels"
    std::string text;
};

// The user interrupted a running map; run() hands the interrupt to the host
// once every object is gone.
struct gateway_interrupted {};

class gateway {
public:
    explicit gateway(const char* plugin) : plugin_(plugin) {}

    const char* plugin() const { return plugin_; }

    [[noreturn]] void fail(std::string_view kind, std::string text) const
    {
        throw gateway_error{kind, std::move(text)};
    }

    // How the plug-ins name their arguments, classes and cells in the core's
    // sentences.
    static const rw::problem_naming& naming()
    {
        static const rw::problem_naming plugins = [] {
            rw::problem_naming n{"the class table (argument 1)", "the window (argument 2)",
                                 "the label raster (argument 3)", "probesPerCell (argument 4)", "min_valid", 1, true};
            n.table_in_passing = "the class table";
            n.class_shown = rw::class_aside::label;
            n.detail = rw::problem_detail::reason;
            return n;
        }();
        return plugins;
    }

    void expect_arg_count(int nrhs, int lo, int hi, const char* message) const
    {
        if (nrhs < lo || nrhs > hi) fail("argCount", message);
    }

    // Every plug-in returns one raster; nlhs is 0 when the result goes to ans.
    void expect_one_output(int nlhs) const
    {
        if (nlhs > 1)
            fail("outputCount", std::string(plugin_) + " returns one output, the map; " +
                                    std::to_string(nlhs) + " were requested.");
    }

    // A map call read from the host: the request, the label raster as a
    // column-major view and, once created, the output raster.
    struct map_call {
        rw::map_request request;
        rw::label_view labels;
        rw::output_view out;
    };

    // Reads the class table, window template and label raster (arguments 1 to
    // 3). Only the window template's size is read, never its elements.
    map_call read_call(rw::map_kind map, const mxArray* const prhs[]) const
    {
        map_call call;
        call.request.map = map;
        read_table(prhs[0], call.request);
        read_window(prhs[1], call.request);
        call.labels = read_labels(prhs[2]);
        return call;
    }

    // Reads probesPerCell (argument 4): a real int32 scalar. Whether its
    // value suits the map is the core's to say.
    std::int32_t read_probes_per_cell(const mxArray* x) const
    {
        if (!mxIsInt32(x) || mxIsComplex(x) || mxGetNumberOfElements(x) != 1)
            fail(rw::problem_identifier(rw::problem_kind::bad_probes_per_cell),
                 std::string(naming().probes_per_cell) + " must be a real int32 scalar, e.g. int32(12); it is " +
                     std::string(mxIsComplex(x) ? "complex " : "") + size_text(x) + ".");
        return *static_cast<const std::int32_t*>(mxGetData(x));
    }

    // Rejects the call when the core finds its request or labels invalid,
    // before anything is allocated.
    void check(const map_call& call) const
    {
        if (const auto problem = rw::validate(call.request, call.labels)) fail_with(*problem, call);
    }

    // Turns a problem found by the core into this plug-in's error.
    [[noreturn]] void fail_with(const rw::request_problem& p, const map_call& call) const
    {
        fail(rw::problem_identifier(p.kind), rw::problem_text(p, call.request, naming()));
    }

    // Creates the M x N zero output raster and points call.out at it. A
    // raster larger than the machine's memory is refused before asking the
    // host, which might grant it and be killed once it is written; when the
    // host cannot allocate it, Octave throws its own error (derived from
    // std::exception), and any such failure here is one of memory.
    mxArray* create_output(map_call& call) const
    {
        const rw::index_t M = call.labels.rows, N = call.labels.cols;
        const auto bytes = static_cast<unsigned long long>(M) * static_cast<unsigned long long>(N) *
                           sizeof(double); // M * N int32 labels exist, so no wrap
        const auto out_of_memory = [&] {
            fail("outOfMemory", "There is no memory for the " + std::to_string(M) + " x " +
                                    std::to_string(N) + " output raster (" +
                                    std::to_string(bytes >> 20) + " MiB); try a smaller raster.");
        };
        if (bytes > rw::physical_memory_bytes()) out_of_memory();
        mxArray* out = nullptr;
        try {
            out = mxCreateDoubleMatrix(static_cast<mwSize>(M), static_cast<mwSize>(N), mxREAL);
        } catch (const std::exception&) {
            out = nullptr;
        }
        if (out == nullptr || (bytes > 0 && mxGetPr(out) == nullptr)) out_of_memory();
        call.out = rw::column_major(mxGetPr(out), M, N);
        return out;
    }

    // Runs the map of a checked call into its output raster, on every core
    // unless RASTER_MAPS_THREADS caps them, until it ends or the user
    // presses Ctrl-C.
    void run(map_call& call) const
    {
        rw::run_options options;
        options.interrupted = host_interrupt_pending;
        try {
            rw::run_map(call.request, call.labels, call.out, options);
        } catch (const rw::invalid_request& e) {
            fail_with(e.problem, call);
        } catch (const rw::interrupted&) {
            throw gateway_interrupted{};
        }
    }

private:
    static std::string size_text(const mxArray* x)
    {
        const mwSize* d = mxGetDimensions(x);
        std::string s;
        for (mwSize k = 0; k < mxGetNumberOfDimensions(x); ++k) {
            if (k > 0) s += 'x';
            s += std::to_string(static_cast<long long>(d[k]));
        }
        s += ' ';
        s += mxGetClassName(x);
        return s;
    }

    void read_table(const mxArray* t, rw::map_request& q) const
    {
        if (!mxIsDouble(t) || mxIsComplex(t) || mxIsSparse(t))
            fail("badTable", "The class table (argument 1) must be a real, non-sparse double "
                             "array with one value per class; it is " +
                                 std::string(mxIsSparse(t) ? "sparse " : "") +
                                 std::string(mxIsComplex(t) ? "complex " : "") + size_text(t) +
                                 ".");
        // K is the row count, or the column count of a row vector; with at
        // least one element K never exceeds the element count.
        if (mxGetNumberOfElements(t) == 0)
            fail("badTable", "The class table (argument 1) is empty (" + size_text(t) +
                                 "); it needs one value per class.");
        const mwSize rows = mxGetM(t);
        q.K = static_cast<rw::index_t>(rows == 1 ? mxGetN(t) : rows);
        q.table = mxGetPr(t);
    }

    // Only the window template's size is read, never its elements, so any
    // class will do; it must have two dimensions, each at least 1.
    void read_window(const mxArray* x, rw::map_request& q) const
    {
        if (mxGetNumberOfDimensions(x) != 2)
            fail("badWindow", "The window template (argument 2) must be a matrix, h rows by w "
                              "columns; it is " + size_text(x) + ".");
        q.h = static_cast<rw::index_t>(mxGetM(x));
        q.w = static_cast<rw::index_t>(mxGetN(x));
        if (q.h == 0 || q.w == 0)
            fail("emptyWindow", "The window template (argument 2) is empty (" + size_text(x) +
                                    "); its size is the window's, so it needs at least one row "
                                    "and one column, e.g. ones(21).");
    }

    rw::label_view read_labels(const mxArray* l) const
    {
        if (!mxIsInt32(l) || mxIsComplex(l) || mxGetNumberOfDimensions(l) != 2)
            fail("badLabels", "The label raster (argument 3) must be a real int32 matrix of "
                              "labels 1..K; it is " +
                                  std::string(mxIsComplex(l) ? "complex " : "") + size_text(l) +
                                  ". Convert it with int32(labels).");
        return rw::column_major(static_cast<const std::int32_t*>(mxGetData(l)),
                                static_cast<rw::index_t>(mxGetM(l)),
                                static_cast<rw::index_t>(mxGetN(l)));
    }

    const char* plugin_;
};

// The seed of a call's generator: the calendar time in whole seconds, taken
// modulo 2^32, so calls seeded within the same second draw the same numbers.
inline std::uint32_t clock_seed() { return static_cast<std::uint32_t>(std::time(nullptr)); }

// Runs a gateway body and reports any failure through mexErrMsgIdAndTxt,
// which does not return: it is called only after the body's objects are
// destroyed, so no C++ exception crosses mexFunction and nothing leaks.
template <class Body>
void run(const char* plugin, Body&& body)
{
    char id[128];
    char text[1024];
    try {
        body(gateway(plugin));
        return;
    } catch (const gateway_interrupted&) {
        std::snprintf(id, sizeof id, "%s:interrupted", plugin);
        std::snprintf(text, sizeof text, "%s was interrupted.", plugin);
    } catch (const gateway_error& e) {
        std::snprintf(id, sizeof id, "%s:%.*s", plugin, static_cast<int>(e.kind.size()), e.kind.data());
        std::snprintf(text, sizeof text, "%s", e.text.c_str());
    } catch (const std::bad_alloc&) {
        std::snprintf(id, sizeof id, "%s:outOfMemory", plugin);
        std::snprintf(text, sizeof text,
                      "%s ran out of memory for its scratch buffers; try a smaller raster.",
                      plugin);
    } catch (const rw::threads_unavailable& e) {
        std::snprintf(id, sizeof id, "%s:outOfMemory", plugin);
        std::snprintf(text, sizeof text, "%s: %s.", plugin, e.what());
    } catch (const std::exception& e) {
        std::snprintf(id, sizeof id, "%s:internal", plugin);
        std::snprintf(text, sizeof text, "%s failed: %s", plugin, e.what());
    } catch (...) {
        std::snprintf(id, sizeof id, "%s:internal", plugin);
        std::snprintf(text, sizeof text, "%s failed with an unknown error.", plugin);
    }
    // An interrupted map leaves as Octave's own loops do on Ctrl-C; should
    // the interrupt be gone by now, as an error.
    if (std::strcmp(id + std::strlen(plugin), ":interrupted") == 0) yield_to_host_interrupt();
    mexErrMsgIdAndTxt(id, "%s", text);
}

} // namespace gw
