#include "worker_pool.hpp"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <system_error>

namespace rw {

int default_thread_count()
{
    int threads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
    if (const char* cap = std::getenv("RASTER_MAPS_THREADS")) {
        char* end = nullptr;
        const long value = std::strtol(cap, &end, 10);
        if (end != cap && *end == '\0' && value >= 1) threads = static_cast<int>(std::min<long>(threads, value));
    }
    return threads;
}

int max_thread_count() { return 4 * static_cast<int>(std::max(1u, std::thread::hardware_concurrency())); }

int thread_count(long long requested)
{
    if (requested <= 0) return default_thread_count();
    return static_cast<int>(std::min<long long>(requested, max_thread_count()));
}

worker_pool::worker_pool(int threads, std::function<bool()> stop_requested)
    : stop_requested_(std::move(stop_requested))
{
    threads = thread_count(threads);
    workers_.reserve(static_cast<std::size_t>(threads - 1));
    for (int id = 1; id < threads; ++id) {
        try {
            workers_.emplace_back([this, id] { work(id); });
        } catch (const std::system_error& e) {
            // The destructor does not run for a half-made pool, and a
            // joinable std::thread left behind would end the process.
            stop_workers();
            throw threads_unavailable("cannot start thread " + std::to_string(id + 1) + " of " +
                                      std::to_string(threads) + " (" + e.what() +
                                      "); ask for fewer threads");
        }
    }
}

worker_pool::~worker_pool() { stop_workers(); }

void worker_pool::stop_workers()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    start_.notify_all();
    for (std::thread& t : workers_) t.join();
    workers_.clear();
}

namespace {

// Part p of parts over 0 .. n-1: sizes differ by at most one.
std::pair<index_t, index_t> part_of(index_t n, int parts, int p)
{
    const index_t base = n / parts, extra = n % parts;
    const index_t begin = p * base + std::min<index_t>(p, extra);
    return {begin, begin + base + (p < extra ? 1 : 0)};
}

} // namespace

bool worker_pool::poll_stop_request()
{
    if (!interrupted_.load(std::memory_order_relaxed) && stop_requested_ &&
        std::this_thread::get_id() == owner_ && stop_requested_())
        interrupted_.store(true, std::memory_order_relaxed);
    return interrupted_.load(std::memory_order_relaxed);
}

void worker_pool::check_interrupt()
{
    if (poll_stop_request()) throw interrupted();
}

void worker_pool::parallel_for(index_t n, const std::function<void(index_t, index_t)>& body)
{
    check_interrupt();
    if (n <= 0) return;
    const int parts = static_cast<int>(std::min<index_t>(size(), n));
    if (parts == 1) {
        body(0, n);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        body_ = &body;
        n_ = n;
        parts_ = parts;
        running_ = parts - 1;
        error_ = nullptr;
        ++round_;
    }
    start_.notify_all();
    std::exception_ptr mine;
    try {
        const auto [begin, end] = part_of(n, parts, 0);
        body(begin, end);
    } catch (...) {
        mine = std::current_exception();
    }
    // While the others finish, keep asking whether to stop, so that a
    // request reaches threads that are deep in a long range.
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done_.wait_for(lock, std::chrono::milliseconds(20), [this] { return running_ == 0; }))
        if (stop_requested_) {
            lock.unlock();
            poll_stop_request();
            lock.lock();
        }
    body_ = nullptr;
    if (mine) std::rethrow_exception(mine);
    if (error_) std::rethrow_exception(error_);
}

void worker_pool::work(int id)
{
    std::uint64_t seen = 0;
    for (;;) {
        std::unique_lock<std::mutex> lock(mutex_);
        start_.wait(lock, [&] { return stopping_ || round_ != seen; });
        if (stopping_) return;
        seen = round_;
        if (id >= parts_) continue; // fewer ranges than threads this round
        const auto [begin, end] = part_of(n_, parts_, id);
        const auto* body = body_;
        lock.unlock();
        std::exception_ptr error;
        try {
            (*body)(begin, end);
        } catch (...) {
            error = std::current_exception();
        }
        lock.lock();
        if (error && !error_) error_ = error;
        if (--running_ == 0) done_.notify_one();
    }
}

} // namespace rw
