// korvel module glue: the shapes get_lists' result takes, and their conversion
// to Python lists and tuples, written with the C API directly.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "collector_pause.hpp"
#include "pending_python_error.hpp"
#include "pybind11_headers.hpp"
#include "solver/board.hpp"

namespace korvel::module {

// The shapes Python receives: a square is an (x, y) pair, an entry a
// ([defending king, attacking king, rook], value) pair.
using PySquare = std::pair<std::int32_t, std::int32_t>;
using PyEntry = std::pair<std::vector<PySquare>, std::int32_t>;
using PyEntries = std::vector<PyEntry>;
using Lists = std::pair<PyEntries, PyEntries>;  // defender to move, attacker to move

}  // namespace korvel::module

namespace pybind11::detail {

// The lists are written with the C API directly. Every allocation is checked,
// and a failed one leaves as the MemoryError it raised: pybind11's generic
// list conversion reports it as a RuntimeError instead, and aborts the
// process in a build with assertions on.
template <>
struct type_caster<korvel::module::Lists>
    : tuple_caster<std::pair, korvel::module::PyEntries, korvel::module::PyEntries> {
    // get_lists' signature line names the result's type so, whatever names
    // pybind11's own conversions of this release give the parts.
    static constexpr auto name =
        const_name("Tuple[List[Tuple[List[Tuple[int, int]], int]], List[Tuple[List[Tuple[int, int]], int]]]");

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
        if (created == nullptr) throw korvel::module::pending_python_error;
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
