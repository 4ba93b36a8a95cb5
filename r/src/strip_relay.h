// The core streams a map on a thread of its own while R's thread, the only
// one that may call R, reads and writes the strips it asks for, so R's
// reading and writing overlap the mapping. A write hands its strip over and
// returns, waiting only while the one before is still being written. A read
// waits for R, but R reads ahead: once it has served rows r0 .. r1-1 it reads
// the as many rows after them, which the core asks for next.
#pragma once

#include "maps/raster_maps.hpp"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <cstdint>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace rmaps {

class strip_relay {
public:
    // R's side: read(r0, r1, into) fills rows r0 .. r1-1; write(r0, r1, rows)
    // takes finished rows.
    using read_rows = std::function<void(rw::index_t, rw::index_t, rw::raster_view<std::int32_t>)>;
    using write_rows = std::function<void(rw::index_t, rw::index_t, rw::raster_view<const double>)>;

    strip_relay(rw::index_t M, rw::index_t N, read_rows read, write_rows write)
        : M_(M), N_(N), read_(std::move(read)), write_(std::move(write))
    {
    }

    // Whether the run should stop: R's side failed or the user asked. The
    // core polls it through run_options::interrupted.
    bool stopping() const { return stop_.load(); }

    // Runs core(source, sink) on its own thread and serves its reads and
    // writes here, asking user_stop() about every 100 ms. Rethrows what R's
    // side threw first, else what the core threw.
    void run(const std::function<void(rw::label_source&, rw::output_sink&)>& core,
             const std::function<bool()>& user_stop)
    {
        source relay_source(*this);
        sink relay_sink(*this);
        std::exception_ptr core_error, r_error;
        std::thread worker([&] {
            try {
                core(relay_source, relay_sink);
            } catch (...) {
                core_error = std::current_exception();
            }
            std::lock_guard<std::mutex> lock(mutex_);
            finished_ = true;
            changed_.notify_all();
        });
        auto asked = std::chrono::steady_clock::now();
        try {
            std::unique_lock<std::mutex> lock(mutex_);
            for (;;) {
                changed_.wait_for(lock, std::chrono::milliseconds(100), [&] {
                    return finished_ || (!stopping() && (reading_ || writing_ || ahead_due()));
                });
                // A read first, so the core maps while R writes; a write
                // before finishing, so the last strip is written too. Once
                // stopping, nothing but the core's end.
                if (stopping()) {
                    if (finished_) break;
                } else if (reading_) {
                    lock.unlock();
                    serve_read();
                    lock.lock();
                    reading_ = false;
                    changed_.notify_all();
                } else if (writing_) {
                    lock.unlock();
                    write_(written_.r0, written_.r1, {strip_.data(), written_.r1 - written_.r0, N_, 1,
                                                      written_.r1 - written_.r0, written_.r0, 0});
                    lock.lock();
                    writing_ = false;
                    changed_.notify_all();
                } else if (finished_) {
                    break;
                } else if (ahead_due()) {
                    lock.unlock();
                    read_ahead();
                    lock.lock();
                }
                if (std::chrono::steady_clock::now() - asked >= std::chrono::milliseconds(100)) {
                    lock.unlock();
                    if (user_stop()) stop();
                    asked = std::chrono::steady_clock::now();
                    lock.lock();
                }
            }
        } catch (...) {
            r_error = std::current_exception();
            stop();
        }
        worker.join();
        if (r_error) std::rethrow_exception(r_error);
        if (core_error) std::rethrow_exception(core_error);
    }

private:
    struct rows {
        rw::index_t r0 = 0, r1 = 0;
    };

    bool ahead_due() const { return next_.r1 > next_.r0 && !ahead_ready_; }

    // Rows asked_ into into_: from the rows read ahead when they are those,
    // then the next as many rows are due.
    void serve_read()
    {
        const rows asked = asked_;
        if (ahead_ready_ && ahead_rows_.r0 == asked.r0 && ahead_rows_.r1 == asked.r1) {
            ahead_ready_ = false;
            if (ahead_error_) std::rethrow_exception(std::exchange(ahead_error_, nullptr));
            const rw::index_t n = asked.r1 - asked.r0;
            for (rw::index_t c = 0; c < N_; ++c)
                for (rw::index_t r = asked.r0; r < asked.r1; ++r) into_(r, c) = ahead_[(r - asked.r0) + n * c];
        } else {
            ahead_ready_ = false;
            read_(asked.r0, asked.r1, into_);
        }
        next_ = {asked.r1, std::min(M_, asked.r1 + (asked.r1 - asked.r0))};
    }

    // Reads the rows due next. What reading them throws is thrown when the
    // core asks for them, as it would have been then.
    void read_ahead()
    {
        const rw::index_t n = next_.r1 - next_.r0;
        ahead_.resize(static_cast<std::size_t>(n * N_));
        try {
            read_(next_.r0, next_.r1, {ahead_.data(), n, N_, 1, n, next_.r0, 0});
        } catch (...) {
            ahead_error_ = std::current_exception();
        }
        ahead_rows_ = next_;
        next_ = {};
        ahead_ready_ = true;
    }

    class source final : public rw::label_source {
    public:
        explicit source(strip_relay& relay) : relay_(relay) {}
        void read(rw::index_t r0, rw::index_t r1, rw::raster_view<std::int32_t> into) override
        {
            std::unique_lock<std::mutex> lock(relay_.mutex_);
            relay_.asked_ = {r0, r1};
            relay_.into_ = into;
            relay_.reading_ = true;
            relay_.changed_.notify_all();
            relay_.changed_.wait(lock, [&] { return !relay_.reading_ || relay_.stopping(); });
            if (relay_.stopping()) throw rw::interrupted();
        }

    private:
        strip_relay& relay_;
    };

    class sink final : public rw::output_sink {
    public:
        explicit sink(strip_relay& relay) : relay_(relay) {}
        void write(rw::index_t r0, rw::index_t r1, rw::raster_view<const double> rows) override
        {
            std::unique_lock<std::mutex> lock(relay_.mutex_);
            relay_.changed_.wait(lock, [&] { return !relay_.writing_ || relay_.stopping(); });
            if (relay_.stopping()) throw rw::interrupted();
            // R's thread does not touch the strip until writing_ is set.
            std::vector<double>& strip = relay_.strip_;
            const rw::index_t N = relay_.N_;
            strip.resize(static_cast<std::size_t>((r1 - r0) * N));
            for (rw::index_t r = r0; r < r1; ++r)
                for (rw::index_t c = 0; c < N; ++c) strip[(r - r0) + (r1 - r0) * c] = rows(r, c);
            relay_.written_ = {r0, r1};
            relay_.writing_ = true;
            relay_.changed_.notify_all();
        }

    private:
        strip_relay& relay_;
    };

    void stop()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stop_.store(true);
        changed_.notify_all();
    }

    rw::index_t M_, N_;
    read_rows read_;
    write_rows write_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::atomic<bool> stop_{false};
    bool finished_ = false, reading_ = false, writing_ = false;
    rows asked_, written_;
    rw::raster_view<std::int32_t> into_;
    std::vector<double> strip_; // column-major, as the core's views
    // R's thread only: the rows due next, and those read ahead.
    rows next_, ahead_rows_;
    bool ahead_ready_ = false;
    std::vector<std::int32_t> ahead_;
    std::exception_ptr ahead_error_;
};

} // namespace rmaps
