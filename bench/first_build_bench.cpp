// korvel first-build benchmark: the table build that the first get_lists() of
// a process runs, timed once, in this fresh process. Memo tables, node pool
// and lists start empty and cold, as they do under Python; bench/run-native
// runs it in several processes and reports the spread.
#include <chrono>
#include <cstdio>

#include "solver/tables.hpp"

int main() {
    // The calls of search that a first build makes, counted by the tests.
    constexpr double first_build_search_calls = 11'279'100;

    const auto started = std::chrono::steady_clock::now();
    korvel::build_tables();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;

    if (korvel::defender_to_move_table.size() != korvel::defender_position_count) return 1;
    std::printf("%.1f ms %.1f ns\n", took.count() * 1e3, took.count() * 1e9 / first_build_search_calls);
}
