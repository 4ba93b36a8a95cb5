// Map kernels on a 4000 x 4000 raster with K = 10, for windows 3 x 3, 21 x 21
// and 101 x 101 (Dravix: 21 x 21 with 12 probes per cell).
// Run: build/bench/bench_maps
// A window-mean map (Varnok, Marnisa, Dravix) takes time linear in M x N and
// the same for every window; a sliding-histogram map (Sulmet, Ombrel) adds 2h
// count updates per position, so its time grows with h but never with h x w
// or K.
#include "kernels/crt_rand.hpp"
#include "kernels/sampling.hpp"
#include "maps/dravix.hpp"
#include "maps/marnisa.hpp"
#include "maps/ombrel.hpp"
#include "maps/sulmet.hpp"
#include "maps/varnok.hpp"

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
        for (int k = 0; k < K; ++k) table[k] = 0.1 * (k + 1);
    }

    rw::raster_args args(rw::index_t window)
    {
        return {table.data(), K, window, window, M, N, labels.data(), out.data()};
    }
};

landscape& shared_landscape()
{
    static landscape l;
    return l;
}

template <void (*map)(const rw::raster_args&)>
void BM_map(benchmark::State& state)
{
    rw::raster_args a = shared_landscape().args(state.range(0));
    for (auto _ : state) {
        map(a);
        benchmark::DoNotOptimize(a.out);
    }
    state.SetItemsProcessed(state.iterations() * M * N);
}

void BM_Varnok(benchmark::State& state) { BM_map<rw::varnok_map>(state); }
void BM_Sulmet(benchmark::State& state) { BM_map<rw::sulmet_map>(state); }
void BM_Ombrel(benchmark::State& state) { BM_map<rw::ombrel_map>(state); }

// Class values 0.1 .. 1.0 select about 55% of the cells; every cell draws.
void BM_Marnisa(benchmark::State& state)
{
    rw::raster_args a = shared_landscape().args(state.range(0));
    const std::vector<std::int32_t> thresholds = rw::threshold_table(a.table, a.K);
    rw::crt_rand gen(2026);
    for (auto _ : state) {
        rw::marnisa_map(a, thresholds.data(), gen);
        benchmark::DoNotOptimize(a.out);
    }
    state.SetItemsProcessed(state.iterations() * M * N);
}

// About 55% of the cells hold a point, so P = 12 / 0.55 = 21 probes each:
// about 12 label comparisons per cell, whatever the number of points.
void BM_Dravix(benchmark::State& state)
{
    rw::raster_args a = shared_landscape().args(state.range(0));
    const std::vector<std::int32_t> thresholds = rw::threshold_table(a.table, a.K);
    rw::crt_rand gen(2026);
    for (auto _ : state) {
        std::vector<std::int32_t> points =
            rw::dravix_points(a, thresholds.data(), rw::default_probes_per_cell, gen);
        rw::dravix_density(points.data(), a);
        benchmark::DoNotOptimize(a.out);
    }
    state.SetItemsProcessed(state.iterations() * M * N);
}

} // namespace

BENCHMARK(BM_Varnok)->Arg(3)->Arg(21)->Arg(101)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Marnisa)->Arg(3)->Arg(21)->Arg(101)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Sulmet)->Arg(3)->Arg(21)->Arg(101)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Ombrel)->Arg(3)->Arg(21)->Arg(101)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Dravix)->Arg(21)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
