// Generators for the sampling tests, each a stand-in for crt_rand whose
// draws are known in advance. discard(n) skips n draws, as crt_rand's does.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace rw::test {

// Draws 0, 1, 2, ... in turn.
struct counting_generator {
    std::int32_t next = 0;

    std::int32_t operator()() { return next++; }
    void discard(std::uint64_t n) { next += static_cast<std::int32_t>(n); }
};

// Draws the same value every time and counts the draws.
struct constant_generator {
    std::int32_t value;
    std::int64_t draws = 0;

    std::int32_t operator()()
    {
        ++draws;
        return value;
    }
    void discard(std::uint64_t n) { draws += static_cast<std::int64_t>(n); }
};

// Draws the given values in turn; a draw past the end fails the test.
struct scripted_generator {
    std::vector<std::int32_t> values;
    std::size_t draws = 0;

    std::int32_t operator()()
    {
        if (draws >= values.size()) {
            ADD_FAILURE() << "draw " << draws << " is past the end of the script";
            ++draws;
            return 0;
        }
        return values[draws++];
    }
    void discard(std::uint64_t n) { draws += n; }
};

} // namespace rw::test
