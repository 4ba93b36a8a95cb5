// A small pool of the standard library's threads for the maps' parallel
// passes. Work is cut into contiguous ranges; every map gives each cell the
// same arithmetic whichever thread computes it, so results do not depend on
// the number of threads.
#pragma once

#include "raster_window.hpp"

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <vector>

namespace rw {

// Thrown out of a run that its caller asked to stop (run_options::interrupted).
class interrupted : public std::exception {
public:
    const char* what() const noexcept override { return "the map was interrupted"; }
};

// Thrown when the operating system refuses a thread the pool needs (too
// many threads or processes, or no address space left for its stack). The
// threads already started are stopped and joined first.
class threads_unavailable : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The number of threads a map uses by default: every core of the machine,
// capped by the environment variable RASTER_MAPS_THREADS when it holds a
// positive whole number (1 = one thread). Other values are ignored.
int default_thread_count();

// The most threads a pool starts: 4 per core. The maps are bound by memory
// and arithmetic, so more threads than cores only add switching; a request
// beyond this (threads=10**6) is cut to it, never thousands of threads.
int max_thread_count();

// The threads a pool of `requested` threads runs: default_thread_count()
// for 0 or less, else requested cut to max_thread_count(). Every front end
// goes through this rule.
int thread_count(long long requested);

class worker_pool {
public:
    // threads is taken through thread_count(). The calling thread is one
    // of them: a pool of 1 starts no thread. Throws threads_unavailable when
    // a thread cannot be started. stop_requested, when given, is
    // asked on the thread that made the pool only, whenever a parallel_for
    // starts, while it waits for the other threads, and from
    // check_interrupt(); once it answers true the pool throws interrupted.
    explicit worker_pool(int threads = 0, std::function<bool()> stop_requested = {});
    ~worker_pool();
    worker_pool(const worker_pool&) = delete;
    worker_pool& operator=(const worker_pool&) = delete;

    int size() const { return static_cast<int>(workers_.size()) + 1; }

    // Calls body(begin, end) on contiguous ranges that cover 0 .. n-1, at most
    // one range per thread, and returns once all are done. The first
    // exception thrown by any range is rethrown here.
    void parallel_for(index_t n, const std::function<void(index_t, index_t)>& body);

    // Throws interrupted once the run was asked to stop. Any thread may call
    // it, between rows or other pieces of work of bounded cost, so that a
    // long pass ends soon after the request; it costs one atomic load, and on
    // the pool's own thread one question to stop_requested.
    void check_interrupt();

private:
    void work(int id);
    void stop_workers();
    bool poll_stop_request();

    std::vector<std::thread> workers_;
    std::mutex mutex_;
    std::condition_variable start_, done_;
    const std::function<void(index_t, index_t)>* body_ = nullptr;
    index_t n_ = 0;
    int parts_ = 0;
    std::uint64_t round_ = 0;
    int running_ = 0;
    bool stopping_ = false;
    std::exception_ptr error_;
    std::function<bool()> stop_requested_;
    std::thread::id owner_ = std::this_thread::get_id();
    std::atomic<bool> interrupted_{false};
};

} // namespace rw
