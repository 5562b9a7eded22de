// korvel module glue: get_lists itself, which builds the tables on the first call and makes the
// Python lists of both, on a stack of korvel's own.
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

// Both tables as plain pairs and vectors, defender to move first.
inline Lists copied_lists() { return {copied(defender_to_move_table), copied(attacker_to_move_table)}; }

// The build recurses 33 levels deep, and the copies and the conversion call
// the allocator, which under AddressSanitizer takes kilobytes of stack: all of
// it runs on korvel's own stack, whatever the caller's thread or coroutine has
// left, and the caller's stack holds only pybind11's call and the switch. The
// stack is mapped at the first call and kept; a mapping, a build or a
// conversion that fails (memory) leaves the tables as they were (empty, if the
// build failed), and raises MemoryError.
inline ConvertedLists get_lists() {
    static const OwnStack stack;
    ConvertedLists converted;
    stack.run([&converted] {
        build_tables();
        converted.lists = pybind11::reinterpret_steal<pybind11::object>(
            pybind11::detail::make_caster<Lists>::cast(copied_lists(), pybind11::return_value_policy::move, {}));
    });
    return converted;
}

}  // namespace korvel::module
