// Ctrl-C while a map runs, for the core's interrupt hooks
// (rw::run_options::interrupted, rw::tiles::tiled_map::interrupted).
//
// Python runs signal handlers on its main thread only. A map called there
// asks PyErr_CheckSignals, so whatever the SIGINT handler does (raise
// KeyboardInterrupt, or a user's own handler) happens within a poll of the
// core. A map on another thread (a dask task, a thread pool) cannot learn of
// Ctrl-C that way: for those, a C handler placed in front of Python's counts
// SIGINTs and then calls it, and such a map stops once the count changed
// since it started. Each map places it, only while SIGINT has Python's
// default handler; Python still sees that handler (signal.getsignal), and
// signal.signal() replaces ours with Python's own, so a user's handler is
// never bypassed.
#pragma once

#include <pybind11/pybind11.h>

#include <functional>

namespace pyrw {

// The hook for a map that starts now on this thread; call with the GIL held.
// Places the counting handler first when SIGINT has Python's default one.
// Once it answered true the core throws rw::interrupted, which the module
// turns into the Python error the handler raised, else KeyboardInterrupt.
std::function<bool()> interrupt_hook();

// Registers that translation, for every function of the module.
void translate_interrupts();

} // namespace pyrw
