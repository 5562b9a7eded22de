// korvel module glue: get_lists and the conversion of its result to Python lists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include "solver/tables.hpp"

namespace korvel::module {

// The shapes Python receives: a square is an (x, y) pair, an entry a
// ([defending king, attacking king, rook], value) pair.
using PySquare = std::pair<std::int32_t, std::int32_t>;
using PyEntry = std::pair<std::vector<PySquare>, std::int32_t>;
using PyEntries = std::vector<PyEntry>;
using Lists = std::pair<PyEntries, PyEntries>;  // defender to move, attacker to move

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

inline Lists get_lists() {
    build_tables();
    return {copied(defender_to_move_table), copied(attacker_to_move_table)};
}

// One call makes some 125,000 new lists and tuples, a list of squares and a
// tuple for each position. The cyclic collector would pass over them hundreds
// of times while they are built and find nothing: none can be part of a cycle
// yet. It is paused for the conversion and then left as it was found.
// Measured in 20 fresh interpreters, alternating with a build without the
// pause: a repeated call, the collection it leaves for later included, takes
// 8 ms instead of 16 ms (medians); the first call, mostly the solve, gains 1%.
class CollectorPause {
public:
    CollectorPause()
        : gc_(pybind11::module_::import("gc")), was_enabled_(gc_.attr("isenabled")().cast<bool>()) {
        if (was_enabled_) gc_.attr("disable")();
    }
    CollectorPause(const CollectorPause&) = delete;
    CollectorPause& operator=(const CollectorPause&) = delete;
    ~CollectorPause() {
        if (!was_enabled_) return;
        PyObject* none = PyObject_CallMethod(gc_.ptr(), "enable", nullptr);
        if (none == nullptr) PyErr_WriteUnraisable(gc_.ptr());
        Py_XDECREF(none);
    }

private:
    pybind11::module_ gc_;
    bool was_enabled_;
};

}  // namespace korvel::module

namespace pybind11::detail {

// The lists are written with the C API directly. Every allocation is checked,
// and a failed one leaves as the MemoryError it raised: pybind11's generic
// list conversion reports it as a RuntimeError instead, and aborts the
// process in a build with assertions on.
template <>
struct type_caster<korvel::module::Lists>
    : tuple_caster<std::pair, korvel::module::PyEntries, korvel::module::PyEntries> {
    static handle cast(const korvel::module::Lists& lists, return_value_policy, handle) {
        const korvel::module::CollectorPause pause;
        SquareTuples squares;
        object result = checked(PyTuple_New(2));
        PyTuple_SET_ITEM(result.ptr(), 0, list_of_entries(lists.first, squares).release().ptr());
        PyTuple_SET_ITEM(result.ptr(), 1, list_of_entries(lists.second, squares).release().ptr());
        return result.release();
    }

private:
    // A call's result holds one (x, y) tuple for each of the 64 squares,
    // shared by every position that has a piece there: tuples cannot change,
    // and 62,000 positions need 186,000 squares.
    using SquareTuples = std::array<object, korvel::square_count>;

    static object checked(PyObject* created) {
        if (created == nullptr) throw error_already_set();
        return reinterpret_steal<object>(created);
    }

    static object pair_of(object first, object second) {
        object pair = checked(PyTuple_New(2));
        PyTuple_SET_ITEM(pair.ptr(), 0, first.release().ptr());
        PyTuple_SET_ITEM(pair.ptr(), 1, second.release().ptr());
        return pair;
    }

    static object integer(std::int32_t value) { return checked(PyLong_FromLong(value)); }

    static object square(const korvel::module::PySquare& s, SquareTuples& squares) {
        object& shared = squares[korvel::square_index({s.first, s.second})];
        if (!shared) shared = pair_of(integer(s.first), integer(s.second));
        return shared;
    }

    static object entry(const korvel::module::PyEntry& e, SquareTuples& squares) {
        object list = checked(PyList_New(static_cast<Py_ssize_t>(e.first.size())));
        Py_ssize_t i = 0;
        for (const korvel::module::PySquare& s : e.first)
            PyList_SET_ITEM(list.ptr(), i++, square(s, squares).release().ptr());
        return pair_of(std::move(list), integer(e.second));
    }

    // Unfilled slots of a list given up halfway are null, which the list's
    // deallocation skips.
    static object list_of_entries(const korvel::module::PyEntries& entries, SquareTuples& squares) {
        object list = checked(PyList_New(static_cast<Py_ssize_t>(entries.size())));
        Py_ssize_t i = 0;
        for (const korvel::module::PyEntry& e : entries)
            PyList_SET_ITEM(list.ptr(), i++, entry(e, squares).release().ptr());
        return list;
    }
};

}  // namespace pybind11::detail
