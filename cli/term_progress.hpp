// A progress bar on standard error in the style of GDAL's command-line
// tools, "0...10...20...30...40...50...60...70...80...90...100 - done.",
// so that standard output stays free for the data of a pipe.
#pragma once

#include <cmath>
#include <cstdio>

namespace cli {

class term_progress {
public:
    explicit term_progress(bool shown) : shown_(shown) {}
    term_progress(const term_progress&) = delete;
    term_progress& operator=(const term_progress&) = delete;
    // A bar cut short by a failure ends its line before the error message.
    ~term_progress()
    {
        if (shown_ && last_ >= 0 && !done_) std::fputc('\n', stderr);
    }

    // fraction 0..1 of the work done; a mark every 2.5%.
    void operator()(double fraction)
    {
        if (!shown_) return;
        const int step = static_cast<int>(std::floor(std::fmin(std::fmax(fraction, 0.0), 1.0) * 40.0));
        for (; last_ < step;) {
            ++last_;
            if (last_ % 4 == 0) std::fprintf(stderr, "%d", last_ / 4 * 10);
            else std::fputc('.', stderr);
        }
        if (step == 40 && !done_) {
            std::fputs(" - done.\n", stderr);
            done_ = true;
        }
        std::fflush(stderr);
    }

private:
    bool shown_;
    int last_ = -1;
    bool done_ = false;
};

} // namespace cli
