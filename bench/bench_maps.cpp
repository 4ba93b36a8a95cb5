// The five maps through the core on a 4000 x 4000 raster with K = 10, for
// windows 3 x 3, 21 x 21 and 101 x 101 (Dravix: 21 x 21 with 12 probes per
// cell), on 1 and 2 threads.
// Run: build/bench/bench_maps
// A window-mean map (Varnok, Marnisa, Dravix) takes time linear in M x N and
// the same for every window. Sulmet counts classes by column when K <= 3h,
// K additions per position, and so is the same for every window too. Ombrel
// carries its score along each row of windows through 2h updates per
// position, whose order fixes its rounding, so its time grows with h (never
// with h x w or K).
//
// BM_map's _exact runs: the same under exact arithmetic. BM_footprint:
// Varnok, Sulmet and Ombrel (exact) with circles of radius 10 and 50 cells
// against the squares of the same extent (21 and 101 cells a side).
//
// BM_many_classes: Sulmet and Ombrel on 200 x 200 cells with a 21 x 21
// window and K = 10 or 5e6 classes, labels drawn from all K: a scored row
// touches only the classes its windows hold, so K costs only the per-call
// work over the table.
#include "maps/raster_maps.hpp"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

constexpr rw::index_t M = 4000, N = 4000;
constexpr int K = 10;

struct landscape {
    std::vector<double> table;
    std::vector<std::int32_t> labels;
    std::vector<double> out;

    landscape() : table(K), labels(static_cast<std::size_t>(M * N)), out(labels.size())
    {
        std::mt19937 gen(2026);
        std::uniform_int_distribution<int> label(1, K);
        for (auto& l : labels) l = label(gen);
        // Class values 0.1 .. 1.0 select about 55% of the cells in the random
        // maps: Dravix then gives each point P = 12 / 0.55 = 21 probes.
        for (int k = 0; k < K; ++k) table[k] = 0.1 * (k + 1);
    }
};

landscape& shared_landscape()
{
    static landscape l;
    return l;
}

// Runs q over the landscape on state.range(1) threads.
void run_on_landscape(benchmark::State& state, const rw::map_request& q, landscape& l)
{
    const rw::run_options options{static_cast<int>(state.range(1))};
    for (auto _ : state) {
        rw::run_map(q, rw::column_major<const std::int32_t>(l.labels.data(), M, N),
                    rw::column_major(l.out.data(), M, N), options);
        benchmark::DoNotOptimize(l.out.data());
    }
    state.SetItemsProcessed(state.iterations() * M * N);
}

// Arguments: window side, threads.
void BM_map(benchmark::State& state, rw::map_kind map, rw::arithmetic arithmetic = rw::arithmetic::plugin)
{
    landscape& l = shared_landscape();
    const rw::index_t window = state.range(0);
    rw::map_request q{map, l.table.data(), K, window, window};
    q.seed = 2026;
    q.arithmetic = arithmetic;
    run_on_landscape(state, q, l);
}

// Arguments: radius, threads. A circle under exact arithmetic, against the
// rectangle of its extent (2 radius + 1 cells a side).
void BM_footprint(benchmark::State& state, rw::map_kind map, rw::window_shape shape)
{
    landscape& l = shared_landscape();
    const auto radius = static_cast<double>(state.range(0));
    rw::map_request q{map, l.table.data(), K, 0, 0};
    q.arithmetic = rw::arithmetic::exact;
    q.edges = rw::edge_rule::inside;
    rw::set_footprint(q, {rw::window_shape::circle, 0, radius});
    if (shape == rw::window_shape::rectangle) q.footprint = {};
    run_on_landscape(state, q, l);
}

void radii(benchmark::internal::Benchmark* b)
{
    for (int radius : {10, 50}) b->Args({radius, 1});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

void windows(benchmark::internal::Benchmark* b)
{
    for (int threads : {1, 2})
        for (int window : {3, 21, 101}) b->Args({window, threads});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

// Arguments: K, threads.
void BM_many_classes(benchmark::State& state, rw::map_kind map)
{
    constexpr rw::index_t side = 200, window = 21;
    const rw::index_t classes = state.range(0);
    std::vector<double> table(static_cast<std::size_t>(classes), 1.0 / static_cast<double>(classes));
    std::vector<std::int32_t> labels(static_cast<std::size_t>(side * side));
    std::mt19937 gen(2026);
    std::uniform_int_distribution<std::int32_t> label(1, static_cast<std::int32_t>(classes));
    for (auto& l : labels) l = label(gen);
    std::vector<double> out(labels.size());
    const rw::map_request q{map, table.data(), classes, window, window};
    const rw::run_options options{static_cast<int>(state.range(1))};
    for (auto _ : state) {
        rw::run_map(q, rw::column_major<const std::int32_t>(labels.data(), side, side),
                    rw::column_major(out.data(), side, side), options);
        benchmark::DoNotOptimize(out.data());
    }
}

void class_counts(benchmark::internal::Benchmark* b)
{
    for (int threads : {1, 2})
        for (int classes : {10, 5'000'000}) b->Args({classes, threads});
    b->Unit(benchmark::kMillisecond)->UseRealTime();
}

} // namespace

BENCHMARK_CAPTURE(BM_map, Varnok, rw::map_kind::varnok)->Apply(windows);
BENCHMARK_CAPTURE(BM_map, Marnisa, rw::map_kind::marnisa)->Apply(windows);
BENCHMARK_CAPTURE(BM_map, Varnok_exact, rw::map_kind::varnok, rw::arithmetic::exact)->Apply(windows);
BENCHMARK_CAPTURE(BM_map, Marnisa_exact, rw::map_kind::marnisa, rw::arithmetic::exact)->Apply(windows);
BENCHMARK_CAPTURE(BM_map, Sulmet, rw::map_kind::sulmet)->Apply(windows);
BENCHMARK_CAPTURE(BM_map, Sulmet_exact, rw::map_kind::sulmet, rw::arithmetic::exact)->Apply(windows);
BENCHMARK_CAPTURE(BM_map, Ombrel, rw::map_kind::ombrel)->Apply(windows);
BENCHMARK_CAPTURE(BM_map, Ombrel_exact, rw::map_kind::ombrel, rw::arithmetic::exact)->Apply(windows);
BENCHMARK_CAPTURE(BM_map, Dravix, rw::map_kind::dravix)
    ->Args({21, 1})->Args({21, 2})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_map, Dravix_exact, rw::map_kind::dravix, rw::arithmetic::exact)
    ->Args({21, 1})->Args({21, 2})->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK_CAPTURE(BM_footprint, Varnok_circle, rw::map_kind::varnok, rw::window_shape::circle)->Apply(radii);
BENCHMARK_CAPTURE(BM_footprint, Varnok_square, rw::map_kind::varnok, rw::window_shape::rectangle)->Apply(radii);
BENCHMARK_CAPTURE(BM_footprint, Sulmet_circle, rw::map_kind::sulmet, rw::window_shape::circle)->Apply(radii);
BENCHMARK_CAPTURE(BM_footprint, Sulmet_square, rw::map_kind::sulmet, rw::window_shape::rectangle)->Apply(radii);
BENCHMARK_CAPTURE(BM_footprint, Ombrel_circle, rw::map_kind::ombrel, rw::window_shape::circle)->Apply(radii);
BENCHMARK_CAPTURE(BM_footprint, Ombrel_square, rw::map_kind::ombrel, rw::window_shape::rectangle)->Apply(radii);
BENCHMARK_CAPTURE(BM_many_classes, Sulmet, rw::map_kind::sulmet)->Apply(class_counts);
BENCHMARK_CAPTURE(BM_many_classes, Ombrel, rw::map_kind::ombrel)->Apply(class_counts);
BENCHMARK_MAIN();
