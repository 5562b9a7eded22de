// korvel solver benchmarks: the parts of a build that repeat in one process.
// The first build itself is timed by first_build_bench, in fresh processes.
#include <benchmark/benchmark.h>

#include "solver/search.hpp"
#include "solver/tables.hpp"

namespace {

using namespace korvel;

// The best case of a search: one key, asked again and again, answered from
// memo nodes that stay in the L1 cache. A first build's hits meet cold
// caches and cost several times as much.
void memo_hit_one_hot_key(benchmark::State& state) {
    search({0, 7}, {0, 5}, {7, 0}, true, 32);
    for (auto _ : state) benchmark::DoNotOptimize(search({7, 7}, {7, 5}, {0, 0}, true, 32));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(memo_hit_one_hot_key);

void enumerate_positions(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(enumerate_defender_positions().data());
        benchmark::DoNotOptimize(enumerate_attacker_positions().data());
    }
}
BENCHMARK(enumerate_positions)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
