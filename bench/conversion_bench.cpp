// korvel conversion benchmarks: what a repeated get_lists() costs once the
// tables are built, the copies and the Python objects, in an embedded interpreter.
#include "get_lists.hpp"  // first: it reads pybind11 as the module does

#include <benchmark/benchmark.h>
#include <pybind11/embed.h>

namespace {

namespace py = pybind11;
void copies(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(korvel::module::copied_lists().first.data());
}
BENCHMARK(copies)->Unit(benchmark::kMillisecond);

void conversion(benchmark::State& state) {
    const korvel::module::Lists lists = korvel::module::copied_lists();
    for (auto _ : state) benchmark::DoNotOptimize(py::cast(lists).ptr());
}
BENCHMARK(conversion)->Unit(benchmark::kMillisecond);

// What a repeated call does: switch to korvel's stack, copy, convert, and
// later release the objects.
void repeated_call(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(korvel::module::get_lists().lists.ptr());
}
BENCHMARK(repeated_call)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    py::scoped_interpreter interpreter;
    // As importing korvel does: the conversion pauses the collector with them.
    if (!korvel::module::find_collector_switches()) return 1;
    korvel::build_tables();
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
