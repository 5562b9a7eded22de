// korvel module glue: get_lists itself, which builds the tables on the first call, on a stack of
// korvel's own, and returns a plain copy of both for pybind11 to convert.
#pragma once

#include <vector>

#include "own_stack.hpp"
#include "pybind11_internals.hpp"
#include "python_lists.hpp"
#include "solver/tables.hpp"

namespace korvel::module {

// The copy in plain pairs and vectors keeps the solver's types out of the
// conversion, and lets the two be timed apart (bench/conversion_bench.cpp); it
// costs some 2.4 ms of a 16 ms repeated call there.
inline PlainTable copied(const std::vector<TableEntry>& table) {
    PlainTable entries;
    entries.reserve(table.size());
    for (const TableEntry& e : table) {
        const Position& p = e.position;
        entries.emplace_back(std::vector<SquareXY>{{p.defending_king.x, p.defending_king.y},
                                                   {p.attacking_king.x, p.attacking_king.y},
                                                   {p.rook.x, p.rook.y}},
                             e.value);
    }
    return entries;
}

// The build recurses 33 levels deep, so it runs on korvel's own stack, whatever
// the caller's thread or coroutine has left. The stack is mapped at the first
// build and kept; a mapping or a build that fails (memory) leaves the tables
// empty, and raises MemoryError.
inline Lists get_lists() {
    if (!tables_built()) {
        static const OwnStack stack;
        stack.run([] { build_tables(); });
    }
    return {copied(defender_to_move_table), copied(attacker_to_move_table)};
}

}  // namespace korvel::module
