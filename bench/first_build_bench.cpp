// korvel first-build benchmark: the table build that the first get_lists() of
// a process runs, timed once, in this fresh process. Memo tables, node arena
// and lists start empty and cold, as they do under Python; bench/run-native
// runs it in several processes, alternating with the floor, and reports the
// spread. Besides the time, wall and CPU, it prints what the floor prints (the keys made and
// a digest of both lists, so that the two can be checked against each other)
// and what the build leaves in memory.
#include <sys/resource.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <initializer_list>
#include <vector>

#include "solver/memo.hpp"
#include "solver/tables.hpp"

namespace {

// FNV-1a over every entry's six coordinates and value, defender to move first,
// as the floor digests its lists.
std::uint64_t digest() {
    std::uint64_t h = 14695981039346656037ull;
    for (const auto* table : {&korvel::defender_to_move_table, &korvel::attacker_to_move_table})
        for (const korvel::TableEntry& e : *table) {
            const korvel::Position& p = e.position;
            for (int n : {p.defending_king.x, p.defending_king.y, p.attacking_king.x, p.attacking_king.y, p.rook.x,
                          p.rook.y, e.value}) {
                h ^= std::uint64_t(std::uint32_t(n));
                h *= 1099511628211ull;
            }
        }
    return h;
}

// The memory the kernel backs with huge pages, where it says (-1 where not).
long huge_page_kib() {
    std::FILE* rollup = std::fopen("/proc/self/smaps_rollup", "r");
    if (rollup == nullptr) return -1;
    long kib = -1;
    char line[256];
    while (std::fgets(line, sizeof line, rollup) != nullptr)
        if (std::sscanf(line, "AnonHugePages: %ld kB", &kib) == 1) break;
    std::fclose(rollup);
    return kib;
}

// The CPU time this process has taken, user and system, in milliseconds.
double cpu_ms() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](timeval t) { return double(t.tv_sec) * 1e3 + double(t.tv_usec) / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main() {
    // The calls of search that a first build makes, as tables_test counts
    // them in a build with the search probe (this one has none).
    constexpr double first_build_search_calls = 11'279'100;

    const double cpu_at_start = cpu_ms();
    const auto started = std::chrono::steady_clock::now();
    korvel::build_tables();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
    const double build_cpu_ms = cpu_ms() - cpu_at_start;

    if (korvel::defender_to_move_table.size() != korvel::defender_position_count) return 1;
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const korvel::detail::TableMemory& values = korvel::memo_table_memory(korvel::value_table);
    const korvel::detail::TableMemory& depths = korvel::memo_table_memory(korvel::depth_table);
    std::printf("build_ms=%.1f cpu_ms=%.1f ns_per_call=%.2f keys=%zu digest=%016llx peak_rss_kib=%ld "
                "value_table_node_bytes=%zu value_table_bucket_bytes=%zu "
                "depth_table_node_bytes=%zu depth_table_bucket_bytes=%zu node_arena_bytes=%zu huge_page_kib=%ld\n",
                took.count() * 1e3, build_cpu_ms, took.count() * 1e9 / first_build_search_calls,
                korvel::value_table.size(), static_cast<unsigned long long>(digest()), usage.ru_maxrss,
                values.node_bytes, values.bucket_bytes, depths.node_bytes, depths.bucket_bytes,
                korvel::detail::node_arena.mapped_bytes(), huge_page_kib());
}
