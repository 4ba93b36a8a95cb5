#include "kernels/label_check.hpp"
#include "kernels/raster_window.hpp"
#include "kernels/summed_area.hpp"
#include "kernels/worker_pool.hpp"

#include "address_sanitizer.hpp"
#include "golden_corpus.hpp"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <stdexcept>
#include <vector>

namespace rw {
namespace {

TEST(ScoredPositions, NeedTwentyOneSpareRowsAndColumns)
{
    EXPECT_TRUE(scored_positions_of(5 + 20, 100, 5, 7).empty());
    EXPECT_TRUE(scored_positions_of(100, 7 + 20, 5, 7).empty());
    const scored_positions one_row = scored_positions_of(5 + 21, 7 + 21, 5, 7);
    EXPECT_EQ(one_row.i0, 10);
    EXPECT_EQ(one_row.i_end, 11);
    EXPECT_EQ(one_row.j0, 10);
    EXPECT_EQ(one_row.j_end, 11);
    EXPECT_TRUE(scored_positions_of(0, 0, 1, 1).empty());
    // Windows far larger than the raster must not wrap the comparison.
    constexpr index_t huge = std::numeric_limits<index_t>::max() - 5;
    EXPECT_TRUE(scored_positions_of(8, 100, huge, 3).empty());
    EXPECT_TRUE(scored_positions_of(100, 8, 3, huge).empty());
}

// The table built in strips of `strip` rows, returned whole, column-major.
template <class T>
std::vector<T> strip_table(const std::vector<T>& x, index_t M, index_t N, index_t strip,
                           worker_pool& pool)
{
    std::vector<T> whole(x.size());
    summed_area_strip<T> table(N, 1, strip);
    for (index_t a = 0; a < M; a += strip) {
        const index_t b = std::min(M, a + strip);
        table.start(a, b, pool);
        table.build(a, b, [&](index_t c, index_t r0, index_t r1, T* dst) {
            for (index_t r = r0; r < r1; ++r) dst[r - r0] = x[r + M * c];
        }, pool);
        for (index_t c = 0; c < N; ++c)
            for (index_t r = a; r < b; ++r) whole[r + M * c] = *table.at(r, c);
    }
    return whole;
}

// A fixed raster of 37 x 23 values in -1e3 .. 1e3 with full 53-bit
// mantissas, its first cell -0.0 (nothing is added to it, so it keeps its
// sign).
std::vector<double> fixed_table_input(index_t M, index_t N)
{
    golden::splitmix gen{7};
    std::vector<double> x(static_cast<std::size_t>(M * N));
    for (auto& v : x) v = (static_cast<double>(gen() >> 11) * 0x1.0p-52 - 1.0) * 1e3;
    x[0] = -0.0;
    return x;
}

constexpr index_t fixed_M = 37, fixed_N = 23;

// FNV-1a hash of the double table of the fixed raster, recorded once from a
// single strip on one thread by SummedAreaTable.DISABLED_RecordGoldenHash
// (run kernel_tests --gtest_also_run_disabled_tests
// --gtest_filter='*RecordGolden*'). The rounding of every cell depends on
// the order of the additions, so a change of that order shows here.
constexpr std::uint64_t fixed_table_hash = 0xb0514ecba65f75ddull;

// Every strip height and thread count gives the recorded bits, and every
// cell is the sum of the cells above and left of it, up to rounding.
TEST(SummedAreaTable, GivesTheRecordedBitsInEveryStripAndThreadCount)
{
    const index_t M = fixed_M, N = fixed_N;
    const std::vector<double> x = fixed_table_input(M, N);
    for (int threads : {1, 3})
        for (index_t strip : {1, 5, 37}) {
            SCOPED_TRACE(testing::Message() << "strips of " << strip << ", " << threads << " threads");
            worker_pool pool(threads);
            const std::vector<double> got = strip_table(x, M, N, strip, pool);
            EXPECT_EQ(golden::hash_of(got.data(), got.size()), fixed_table_hash);
            EXPECT_EQ(std::bit_cast<std::uint64_t>(got[0]), std::bit_cast<std::uint64_t>(-0.0));
            for (index_t r = 0; r < M; ++r)
                for (index_t c = 0; c < N; ++c) {
                    double direct = 0, size = 0;
                    for (index_t cc = 0; cc <= c; ++cc)
                        for (index_t rr = 0; rr <= r; ++rr) {
                            direct += x[rr + M * cc];
                            size += std::abs(x[rr + M * cc]);
                        }
                    ASSERT_NEAR(got[r + M * c], direct, 1e-12 * size) << r << ", " << c;
                }
        }
}

// A thread the system refuses (no address space left for its stack) ends
// in an error once the threads already started are joined, instead of
// ending the process. The child runs before any other pool of this
// process, whose freed stacks glibc would reuse without asking for more.
TEST(WorkerPool, FailsCleanlyWhenThreadsCannotStart)
{
    if (under_address_sanitizer) GTEST_SKIP() << "the address space cannot be capped";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // Room for one more thread stack (8 MiB by default), not for three.
        long pages = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm == nullptr || std::fscanf(statm, "%ld", &pages) != 1) _exit(4);
        std::fclose(statm);
        const rlim_t room = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{12} << 20);
        const rlimit space{room, room};
        if (setrlimit(RLIMIT_AS, &space) != 0) _exit(5);
        try {
            worker_pool pool(8);
        } catch (const threads_unavailable&) {
            _exit(0);
        }
        _exit(3); // every thread started: the limit did not bite
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << "the child ended by signal " << WTERMSIG(status);
    if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "earlier pools' stacks were reused; run this test alone";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST(WorkerPool, CutsHugeRequestsToFourThreadsPerCore)
{
    const worker_pool many(1'000'000);
    EXPECT_EQ(many.size(), max_thread_count());
    EXPECT_EQ(thread_count(0), default_thread_count());
    EXPECT_EQ(thread_count(1), 1);
}

TEST(SummedAreaTable, DISABLED_RecordGoldenHash)
{
    const std::vector<double> x = fixed_table_input(fixed_M, fixed_N);
    worker_pool pool(1);
    const std::vector<double> table = strip_table(x, fixed_M, fixed_N, fixed_M, pool);
    std::printf("fixed_table_hash = 0x%016llxull\n",
                static_cast<unsigned long long>(golden::hash_of(table.data(), table.size())));
}

// Box sums from an integer table match direct sums, also once the table
// wraps past 2^31.
TEST(SummedAreaTable, IntegerBoxSumsMatchDirectSumsThroughWrapAround)
{
    const index_t M = 19, N = 29;
    std::mt19937 gen(11);
    std::uniform_int_distribution<int> value(-50, 50);
    std::vector<std::int32_t> x(static_cast<std::size_t>(M * N));
    for (auto& v : x) v = value(gen);
    x[0] = x[1] = std::numeric_limits<std::int32_t>::max();
    worker_pool pool(1);
    const std::vector<std::int32_t> s = strip_table(x, M, N, 4, pool);
    for (index_t i = 1; i < M; ++i)
        for (index_t j = 1; j < N; ++j)
            for (index_t h : {1, 2, 5})
                for (index_t w : {1, 3, 4}) {
                    if (i + h > M || j + w > N) continue;
                    std::int32_t direct = 0;
                    for (index_t c = j; c < j + w; ++c)
                        for (index_t r = i; r < i + h; ++r) direct += x[r + M * c];
                    const auto S = [&](index_t r, index_t c) { return s[r + M * c]; };
                    ASSERT_EQ(box_sum(S(i + h - 1, j + w - 1), S(i - 1, j + w - 1),
                                      S(i + h - 1, j - 1), S(i - 1, j - 1)),
                              direct) << i << "," << j;
                }
}

TEST(LabelCheck, FindsFirstBadLabelColumnMajorInEveryLayout)
{
    // 3 x 3, column-major; the 0 at (2, 0) lies outside the block checked.
    const std::vector<std::int32_t> labels = {1, 2, 0, 2, 3, 1, 4, 1, 2};
    std::vector<std::int32_t> by_rows(9);
    for (index_t c = 0; c < 3; ++c)
        for (index_t r = 0; r < 3; ++r) by_rows[r * 3 + c] = labels[r + 3 * c];
    for (const label_view view : {column_major(labels.data(), 3, 3), row_major<const std::int32_t>(by_rows.data(), 3, 3)}) {
        EXPECT_FALSE(find_bad_label(view, 4, {0, 2, 0, 3}));
        const auto bad = find_bad_label(view, 3, {0, 2, 0, 3});
        ASSERT_TRUE(bad);
        EXPECT_EQ(bad->value, 4);
        EXPECT_EQ(bad->row, 0);
        EXPECT_EQ(bad->col, 2);
        const auto zero = find_bad_label(view, 4, whole_raster(3, 3));
        ASSERT_TRUE(zero);
        EXPECT_EQ(zero->value, 0);
        EXPECT_EQ(zero->row, 2);
        // A band of rows keeps the rows' own numbers.
        const auto in_band = find_bad_label(view.band(1, 3), 1, whole_raster(3, 3));
        ASSERT_TRUE(in_band);
        EXPECT_EQ(in_band->value, 2);
        EXPECT_EQ(in_band->row, 1);
        EXPECT_EQ(in_band->col, 0);
        EXPECT_TRUE(find_bad_label(view, 0, {0, 1, 0, 1}));
    }
}

TEST(WorkerPool, CoversEveryIndexOnceAndPassesExceptionsOn)
{
    for (int threads : {1, 2, 7}) {
        worker_pool pool(threads);
        for (index_t n : {1, 3, 1000}) {
            std::vector<std::atomic<int>> seen(static_cast<std::size_t>(n));
            pool.parallel_for(n, [&](index_t b, index_t e) {
                for (index_t k = b; k < e; ++k) ++seen[k];
            });
            for (index_t k = 0; k < n; ++k) ASSERT_EQ(seen[k], 1) << k << " of " << n;
        }
        EXPECT_THROW(pool.parallel_for(10, [](index_t, index_t) { throw std::runtime_error("no"); }),
                     std::runtime_error);
        pool.parallel_for(4, [](index_t, index_t) {}); // still usable afterwards
    }
}

} // namespace
} // namespace rw
