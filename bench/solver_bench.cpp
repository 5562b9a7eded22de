// korvel solver benchmarks: the table build that the first get_lists() runs.
#include <benchmark/benchmark.h>

#include "solver/memo.hpp"
#include "solver/search.hpp"
#include "solver/tables.hpp"

namespace {

using namespace korvel;

// The calls of search that a first build makes, counted by the tests.
constexpr std::int64_t first_build_search_calls = 11'279'100;

void forget_everything() {
    value_table.clear();
    depth_table.clear();
    attacker_to_move_table.clear();
    defender_to_move_table.clear();
}

// The first build in a fresh process; items are calls of search.
void first_build(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        forget_everything();
        state.ResumeTiming();
        build_tables();
        benchmark::DoNotOptimize(defender_to_move_table.data());
    }
    state.SetItemsProcessed(state.iterations() * first_build_search_calls);
    // Seconds per call of search, printed with an SI prefix ("45n" is 45 ns).
    state.counters["time_per_search"] =
        benchmark::Counter(static_cast<double>(state.iterations() * first_build_search_calls),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(first_build)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3.0);

// A position answered from the memo tables: the cost of one memo hit.
void memo_hit(benchmark::State& state) {
    forget_everything();
    search({0, 7}, {0, 5}, {7, 0}, true, 32);
    for (auto _ : state) benchmark::DoNotOptimize(search({7, 7}, {7, 5}, {0, 0}, true, 32));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(memo_hit);

void enumerate_positions(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(enumerate_defender_positions().data());
        benchmark::DoNotOptimize(enumerate_attacker_positions().data());
    }
}
BENCHMARK(enumerate_positions)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
