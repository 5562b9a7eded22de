// korvel module glue: get_lists itself, the function Python calls. It builds
// the tables on the first call and returns a copy of both, which pybind11 then
// converts (python_lists.hpp).
#pragma once

#include <vector>

#include "pybind11_headers.hpp"
#include "python_lists.hpp"
#include "solver/tables.hpp"
#include "thread_stack.hpp"

namespace korvel::module {

// The copy is what get_lists returns and all the conversion reads: pybind11
// calls get_lists, then hands its result to the conversion. Copied into the
// shapes Python receives, plain pairs and vectors, the tables reach the
// conversion without the solver's types, and the copy and the conversion can be
// timed apart (bench/conversion_bench.cpp). It is not free: some 1.6 ms of a
// 12 ms repeated call in that benchmark, which a conversion reading the
// solver's tables in place would save.
inline PyEntries copied(const std::vector<TableEntry>& table) {
    PyEntries entries;
    entries.reserve(table.size());
    for (const TableEntry& e : table) {
        const Position& p = e.position;
        entries.emplace_back(std::vector<PySquare>{{p.defending_king.x, p.defending_king.y},
                                                   {p.attacking_king.x, p.attacking_king.y},
                                                   {p.rook.x, p.rook.y}},
                             e.value);
    }
    return entries;
}

// Refuses a first call on a thread short of stack before it builds anything;
// a build that fails (memory) leaves the tables empty, and raises MemoryError.
inline Lists get_lists() {
    if (!tables_built()) require_stack_for_build();
    build_tables();
    return {copied(defender_to_move_table), copied(attacker_to_move_table)};
}

}  // namespace korvel::module
