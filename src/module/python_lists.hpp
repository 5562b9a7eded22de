// korvel module glue: the plain shapes get_lists returns, and their conversion to Python lists and
// tuples, written with the C API so that every allocation is checked.
#pragma once

#include <array>
#include <cstdint>
#include <utility>
#include <vector>

#include "collector_pause.hpp"
#include "pybind11_internals.hpp"
#include "solver/board.hpp"

namespace korvel::module {

// A square as an (x, y) pair; an entry as ([defending king, attacking king,
// rook], value); the result as (defender to move, attacker to move).
using SquareXY = std::pair<std::int32_t, std::int32_t>;
using PlainEntry = std::pair<std::vector<SquareXY>, std::int32_t>;
using PlainTable = std::vector<PlainEntry>;
using Lists = std::pair<PlainTable, PlainTable>;

// Lists already converted to Python objects, as get_lists returns them to
// pybind11, which gives the function the signature of Lists.
struct ConvertedLists {
    pybind11::object lists;
};

}  // namespace korvel::module

namespace pybind11::detail {

// pybind11's own list conversion reports a failed allocation as a RuntimeError
// (and aborts with assertions on); this one leaves with the MemoryError raised.
template <>
struct type_caster<korvel::module::Lists> {
    PYBIND11_TYPE_CASTER(korvel::module::Lists,
                         const_name("Tuple[List[Tuple[List[Tuple[int, int]], int]], "
                                    "List[Tuple[List[Tuple[int, int]], int]]]"));
    bool load(handle, bool) { return false; }  // a result only, never an argument

    static handle cast(const korvel::module::Lists& lists, return_value_policy, handle) {
        const korvel::module::CollectorPause pause;
        SquareTuples squares;
        object result = checked(PyTuple_New(2));
        PyTuple_SET_ITEM(result.ptr(), 0, list_of_entries(lists.first, squares).release().ptr());
        PyTuple_SET_ITEM(result.ptr(), 1, list_of_entries(lists.second, squares).release().ptr());
        return result.release();
    }

private:
    // One (x, y) tuple for each square, shared by every position with a piece
    // there: tuples cannot change, and 62,000 positions hold 186,000 squares.
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

    static object square(const korvel::module::SquareXY& s, SquareTuples& squares) {
        object& shared = squares[korvel::square_index({s.first, s.second})];
        if (!shared) shared = pair_of(integer(s.first), integer(s.second));
        return shared;
    }

    static object entry(const korvel::module::PlainEntry& e, SquareTuples& squares) {
        object list = checked(PyList_New(static_cast<Py_ssize_t>(e.first.size())));
        Py_ssize_t i = 0;
        for (const korvel::module::SquareXY& s : e.first)
            PyList_SET_ITEM(list.ptr(), i++, square(s, squares).release().ptr());
        return pair_of(std::move(list), integer(e.second));
    }

    // The slots of a list given up halfway are null, which its deallocation skips.
    static object list_of_entries(const korvel::module::PlainTable& entries, SquareTuples& squares) {
        object list = checked(PyList_New(static_cast<Py_ssize_t>(entries.size())));
        Py_ssize_t i = 0;
        for (const korvel::module::PlainEntry& e : entries)
            PyList_SET_ITEM(list.ptr(), i++, entry(e, squares).release().ptr());
        return list;
    }
};

template <>
struct type_caster<korvel::module::ConvertedLists> {
    PYBIND11_TYPE_CASTER(korvel::module::ConvertedLists, make_caster<korvel::module::Lists>::name);
    bool load(handle, bool) { return false; }  // a result only, never an argument

    static handle cast(const korvel::module::ConvertedLists& converted, return_value_policy, handle) {
        return converted.lists.inc_ref();
    }
};

}  // namespace pybind11::detail
