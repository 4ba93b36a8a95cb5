// A part of a run's progress: the share from..to of the caller's GDAL
// progress function, which also tells the run to stop by returning FALSE.
#pragma once

#include <cpl_progress.h>

#include <memory>

namespace cli {

class progress_share {
public:
    progress_share(GDALProgressFunc progress, void* progress_data, double from, double to)
        : scaled_(GDALCreateScaledProgress(from, to, progress, progress_data), GDALDestroyScaledProgress)
    {
    }

    // Reports the fraction 0..1 of this share done; false once the caller
    // has asked to stop (it is not asked to forget that).
    bool report(double done)
    {
        done_ = done;
        stopped_ = stopped_ || !GDALScaledProgress(done, nullptr, scaled_.get());
        return !stopped_;
    }
    // Asks the caller again, at the fraction already reported.
    bool stop_requested() { return !report(done_); }

    // The progress function for a GDAL call that reports its own progress
    // within this share, with the share as its data.
    static int CPL_STDCALL function(double done, const char*, void* share)
    {
        return static_cast<progress_share*>(share)->report(done) ? TRUE : FALSE;
    }

private:
    std::unique_ptr<void, void (*)(void*)> scaled_;
    double done_ = 0.0;
    bool stopped_ = false;
};

} // namespace cli
