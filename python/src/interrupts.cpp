#include "interrupts.hpp"

#include "kernels/worker_pool.hpp"

#include <atomic>
#include <cstdint>
#include <new>
#include <signal.h>

namespace pyrw {
namespace {

namespace py = pybind11;

// The SIGINTs the counting handler saw, and the handler it passes them on
// to (Python's, set before the counting handler is installed and never
// after). A signal handler can only leave a mark in memory: this is it.
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);
std::atomic<std::uint64_t> sigints_seen{0};
struct sigaction passed_on {};

void count_sigint(int signal, siginfo_t* info, void* context)
{
    sigints_seen.fetch_add(1, std::memory_order_relaxed);
    if (passed_on.sa_flags & SA_SIGINFO) passed_on.sa_sigaction(signal, info, context);
    else passed_on.sa_handler(signal);
}

bool on_main_thread()
{
    const py::object main = py::module_::import("threading").attr("main_thread")();
    return main.attr("ident").cast<unsigned long>() == PyThread_get_thread_ident();
}

// Puts the counting handler in front of Python's while Python's SIGINT
// handler is its default one (a handler of the user's own is never
// bypassed). Asked afresh by every map, as hosts such as Jupyter's kernel
// set the handler again with signal.signal(), which drops ours. The GIL,
// held here and by signal.signal(), keeps the two from interleaving.
void watch_interrupts()
{
    const py::module_ signal = py::module_::import("signal");
    if (!signal.attr("getsignal")(SIGINT).is(signal.attr("default_int_handler"))) return;
    struct sigaction current {};
    if (sigaction(SIGINT, nullptr, &current) != 0) return;
    const bool counting = (current.sa_flags & SA_SIGINFO) && current.sa_sigaction == count_sigint;
    const bool none = !(current.sa_flags & SA_SIGINFO) &&
                      (current.sa_handler == SIG_DFL || current.sa_handler == SIG_IGN);
    if (counting || none) return;
    passed_on = current;
    struct sigaction counter = current; // same mask and flags: no SA_RESTART, as Python wants
    counter.sa_flags |= SA_SIGINFO;
    counter.sa_sigaction = count_sigint;
    sigaction(SIGINT, &counter, nullptr);
}

} // namespace

std::function<bool()> interrupt_hook()
{
    watch_interrupts();
    if (on_main_thread())
        return [] {
            py::gil_scoped_acquire gil;
            return PyErr_CheckSignals() != 0;
        };
    const std::uint64_t seen = sigints_seen.load(std::memory_order_relaxed);
    return [seen] { return sigints_seen.load(std::memory_order_relaxed) != seen; };
}

void translate_interrupts()
{
    py::register_local_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const rw::interrupted&) {
            // On the main thread the handler's own error is set already.
            if (!PyErr_Occurred()) PyErr_SetNone(PyExc_KeyboardInterrupt);
        } catch (const std::bad_alloc&) {
            PyErr_SetString(PyExc_MemoryError,
                            "not enough memory for the map's scratch buffers (Dravix also stops when "
                            "the probes of one point would fill half the machine's memory: lower "
                            "probes_per_cell)");
        }
    });
}

} // namespace pyrw
