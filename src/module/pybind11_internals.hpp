// korvel module glue: pybind11's headers as the module reads them, and all that works around
// pybind11's internals. Checked against pybind11 2.10.2, 2.10.3 and 3.1.0.
#pragma once

#if defined(PYBIND11_VERSION_MAJOR)
#error "pybind11 was included before pybind11_internals.hpp, which must read it first"
#endif

// pybind11's error guard takes the interpreter lock through its state, which
// may be what failed; the simple guard asks the interpreter alone. Its debug
// checks (assert(!PyErr_Occurred()) in pybind11_fail) stop the process on a
// failure reported with its cause pending, so NDEBUG holds while its headers
// are read, and only then: korvel's own headers, read after, mean the same in
// the module as in the solver library.
#define PYBIND11_SIMPLE_GIL_MANAGEMENT
#if defined(NDEBUG)
#include <pybind11/pybind11.h>
#else
#define NDEBUG
#include <pybind11/pybind11.h>
#undef NDEBUG
#include <cassert>  // assert as the build has it, for whatever follows
#endif

#if !defined(PYBIND11_VERSION_HEX) || PYBIND11_VERSION_HEX < 0x020A0200
#error "korvel needs pybind11 2.10.2 or later: before, its error handling can end the process when memory runs out"
#endif

// Where pybind11 keeps its state: among the builtins in 2.x up to internals
// version 4 (2.10 whatever the version), in the interpreter's own dictionary in
// 3.x and in 2.13 from version 5.
#if PYBIND11_VERSION_MAJOR >= 3 || (PYBIND11_VERSION_HEX >= 0x020D0000 && PYBIND11_INTERNALS_VERSION >= 5)
#define KORVEL_PYBIND11_STATE_IN_INTERPRETER_DICT 1
#elif PYBIND11_VERSION_HEX >= 0x020B0000 && PYBIND11_INTERNALS_VERSION >= 5
#error "korvel does not know where pybind11 2.11 and 2.12 keep their state with PYBIND11_INTERNALS_VERSION 5 or more"
#endif

namespace korvel::module {

// A Python error that korvel's glue met and left set, for pybind11 (during a
// call) or the module entry (during an import) to pass on as it is: pybind11's
// error_already_set would take it up again, which needs memory. Thrown as a
// copy of one made at load, which shares its message and so allocates none.
struct PendingPythonError : pybind11::builtin_exception {
    PendingPythonError() : builtin_exception("a Python error is set") {}
    void set_error() const override {}
};
inline const PendingPythonError pending_python_error;

namespace detail {

// The dictionary that holds pybind11's state, or null with the error set. The
// interpreter's own fails without setting one when memory is out.
inline PyObject* pybind11_state_dict() {
#if defined(KORVEL_PYBIND11_STATE_IN_INTERPRETER_DICT)
    PyObject* const dict = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (dict == nullptr) PyErr_NoMemory();
    return dict;
#else
    return PyEval_GetBuiltins();
#endif
}

#if PYBIND11_VERSION_MAJOR < 3
// Keeps the pending error aside for its lifetime, so that a clean-up that meets
// an error of its own leaves the one that caused it in place.
class KeptPythonError {
public:
    KeptPythonError() { PyErr_Fetch(&type_, &value_, &traceback_); }
    KeptPythonError(const KeptPythonError&) = delete;
    KeptPythonError& operator=(const KeptPythonError&) = delete;
    ~KeptPythonError() { PyErr_Restore(type_, value_, traceback_); }

private:
    PyObject *type_, *value_, *traceback_;
};

// pybind11 2.x publishes its state before it has made the types every class
// needs, and should making them fail it keeps the half for the next import to
// take for whole. So the half is dropped, with its thread keys (each failed
// import used one up, and after some 1,020 no pybind11 module could set up). A
// whole state, made by an earlier import, is left alone.
inline void drop_half_made_state(PyObject* state_dict, PyObject* id) {
    if (PyDict_GetItemWithError(state_dict, id) != nullptr) PyDict_DelItem(state_dict, id);
    pybind11::detail::internals** const holder = pybind11::detail::get_internals_pp();
    if (holder == nullptr || *holder == nullptr) return;
    Py_XDECREF(reinterpret_cast<PyObject*>((*holder)->static_property_type));
    Py_XDECREF(reinterpret_cast<PyObject*>((*holder)->default_metaclass));
    delete *holder;  // its destructor deletes the thread keys
    *holder = nullptr;
}
#endif

}  // namespace detail

// pybind11's set-up step of a module entry, run as it is; should it fail
// halfway, what it made is undone, so that the next import, korvel's or
// another module's, makes it afresh. Throws with the Python error set.
inline void set_up_pybind11() {
    PyObject* const state_dict = detail::pybind11_state_dict();
    if (state_dict == nullptr) throw pending_python_error;
#if PYBIND11_VERSION_MAJOR < 3
    PyObject* const id = PyUnicode_FromString(PYBIND11_INTERNALS_ID);
    if (id == nullptr) throw pending_python_error;
    const bool made_before = PyDict_GetItemWithError(state_dict, id) != nullptr;
    if (!made_before && PyErr_Occurred()) {
        Py_DECREF(id);
        throw pending_python_error;
    }
    try {
        PYBIND11_ENSURE_INTERNALS_READY
    } catch (...) {
        if (!made_before) {
            const detail::KeptPythonError cause;
            detail::drop_half_made_state(state_dict, id);
        }
        Py_DECREF(id);
        throw;
    }
    Py_DECREF(id);
#else
    // 3.x makes its state once per interpreter, for good, and then the base of
    // its instance types; should that fail, later set-ups take the state as it
    // is, without the base, which is then made here.
    PYBIND11_ENSURE_INTERNALS_READY
    pybind11::detail::internals& made = pybind11::detail::get_internals();
    if (made.instance_base == nullptr)
        made.instance_base = pybind11::detail::make_object_base_type(made.default_metaclass);
#endif
}

}  // namespace korvel::module
