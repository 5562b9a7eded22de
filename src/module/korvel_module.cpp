// korvel: the Python module's entry. Glue only: it checks the interpreter,
// sets up pybind11, and makes the module with get_lists and __version__.
//
// The entry is korvel's own, in the steps of pybind11's standard one
// (PYBIND11_MODULE in detail/common.h), so that every failure leaves as a
// Python exception from the import and the next import works. In the standard
// entry, as of 2.10.3, 2.13.6 and 3.0.1:
// - the internals set-up (PYBIND11_ENSURE_INTERNALS_READY) runs outside any
//   handler, so an exception from it (memory out, no thread key left) leaves
//   an extern "C" function and ends the process; in 2.x the module's creation
//   (module_::create_extension_module) does too;
// - a set-up that fails halfway leaves its state published, and the next
//   import takes it for whole (see set_up_pybind11);
// - adding an object (module_::add_object, under module_::def) ignores
//   PyModule_AddObject's result, so the import "succeeds" without get_lists;
// - the handler around the module's definition catches error_already_set and
//   std::exception only.
// Each step below says what it does instead. korvel makes its module in one
// phase, as the 2.x entry does: the 3.x entry makes it in two and counts the
// interpreters it has seen, both for sub-interpreters, which korvel refuses.
#include <exception>

#include "pybind11_headers.hpp"  // first: it reads pybind11 as released

#include "collector_pause.hpp"
#include "get_lists.hpp"
#include "pending_python_error.hpp"
#include "thread_stack.hpp"

// Where pybind11 keeps its state, a capsule named PYBIND11_INTERNALS_ID:
// - among the builtins in 2.x, up to internals version 4 (the default on
//   Python 3.9), and in 2.10 whatever the version;
// - in the interpreter's own dictionary (PyInterpreterState_GetDict) in 3.x,
//   and in 2.13 built with -DPYBIND11_INTERNALS_VERSION=5 or more
//   (get_python_state_dict in detail/internals.h decides it so).
// 2.11 and 2.12 with version 5 or more have not been checked, and are refused.
#if PYBIND11_VERSION_MAJOR >= 3 || (PYBIND11_VERSION_HEX >= 0x020D0000 && PYBIND11_INTERNALS_VERSION >= 5)
#define KORVEL_PYBIND11_STATE_IN_INTERPRETER_DICT 1
#elif PYBIND11_VERSION_HEX >= 0x020B0000 && PYBIND11_INTERNALS_VERSION >= 5
#error "korvel does not know where pybind11 2.11 and 2.12 keep their state with PYBIND11_INTERNALS_VERSION 5 or more: build with the default internals version, or with pybind11 2.10, 2.13 or 3.x"
#endif

namespace korvel::module {
namespace {

// korvel's tables live once per process, and pybind11 keeps its state in the
// main interpreter: a sub-interpreter that waits for the interpreter lock under
// pybind11's guard waits for itself, for ever. So korvel runs in the main
// interpreter only, and an import anywhere else is refused.
bool refuse_sub_interpreter() {
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) return false;
    PyErr_SetString(PyExc_ImportError, "korvel must be imported in the main interpreter, not in a sub-interpreter");
    return true;
}

// Puts a new ImportError in place of the pending error, if any, with that error
// as its cause and context (it keeps its traceback). Should memory run out on
// the way, the MemoryError is what the import raises.
void raise_import_error(const char* message) {
    PyObject *cause_type, *cause, *cause_traceback;
    PyErr_Fetch(&cause_type, &cause, &cause_traceback);
    if (cause_type != nullptr) PyErr_NormalizeException(&cause_type, &cause, &cause_traceback);
    if (cause != nullptr && cause_traceback != nullptr) PyException_SetTraceback(cause, cause_traceback);
    Py_XDECREF(cause_type);
    Py_XDECREF(cause_traceback);
    PyErr_SetString(PyExc_ImportError, message);
    if (cause == nullptr) return;
    PyObject *type, *error, *traceback;
    PyErr_Fetch(&type, &error, &traceback);
    PyErr_NormalizeException(&type, &error, &traceback);
    if (error != nullptr) {
        Py_INCREF(cause);
        PyException_SetCause(error, cause);    // takes a reference
        PyException_SetContext(error, cause);  // takes the other
    } else {
        Py_DECREF(cause);
    }
    PyErr_Restore(type, error, traceback);
}

// The module is made anew by each import that reaches the entry. Its state
// size is 0, not -1: the interpreter then calls the entry in every
// interpreter, where with -1 it would hand a sub-interpreter a copy of the main
// interpreter's module without asking, and the refusal above would not run.
PyModuleDef definition{PyModuleDef_HEAD_INIT, "korvel", nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// Registers get_lists, as module_::def would in a module that has no other
// get_lists to chain, and __version__. Each C API step that fails leaves its
// Python error set and throws pending_python_error, so that the import fails;
// making the function is pybind11's, which throws its own exceptions.
void define(PyObject* m) {
    pybind11::cpp_function function(&get_lists, pybind11::name("get_lists"), pybind11::scope(m),
                                    pybind11::sibling(pybind11::none()),
                                    R"pbdoc(
        get the lists containing the korvels.
    )pbdoc");
    if (PyModule_AddObject(m, "get_lists", function.ptr()) != 0) throw pending_python_error;
    function.release();  // PyModule_AddObject took the reference, as it does only when it succeeds
    if (PyModule_AddStringConstant(m, "__version__", KORVEL_VERSION) != 0) throw pending_python_error;
}

// The dictionary in which pybind11 keeps its state; null with the Python
// error set if it could not be had. The interpreter makes its own dictionary
// when first asked, and returns null with no error set if that fails, which
// pybind11 would report as a SystemError caused by nothing.
PyObject* pybind11_state_dict() {
#if defined(KORVEL_PYBIND11_STATE_IN_INTERPRETER_DICT)
    PyObject* const dict = PyInterpreterState_GetDict(PyInterpreterState_Get());
    if (dict == nullptr) PyErr_NoMemory();
    return dict;
#else
    return PyEval_GetBuiltins();
#endif
}

// Keeps the pending Python error, if any, aside for its lifetime: a clean-up
// that may itself meet an error leaves the one that caused it in place.
class KeptPythonError {
public:
    KeptPythonError() { PyErr_Fetch(&type_, &value_, &traceback_); }
    KeptPythonError(const KeptPythonError&) = delete;
    KeptPythonError& operator=(const KeptPythonError&) = delete;
    ~KeptPythonError() { PyErr_Restore(type_, value_, traceback_); }

private:
    PyObject *type_, *value_, *traceback_;
};

// pybind11's own set-up step of a module entry, whatever this release makes
// it, run as it is; should it fail halfway, what it made is undone, so that
// the next import, korvel's or another module's, makes it afresh rather than
// trusting a half.
#if PYBIND11_VERSION_MAJOR < 3
// pybind11 2.x publishes its state, a capsule under PYBIND11_INTERNALS_ID,
// before it has made the types every pybind11 class needs, and should making
// them fail it leaves both, for the next import to take the half for whole.
// So the capsule leaves the dictionary, and the state is released with the
// types it made and the thread keys it created (dropped without releasing,
// each failed import used up a key, and after some 1,020 no pybind11 module
// could set up). The holder of the state, pybind11's own static, stays empty
// for the next import to fill. A state an earlier import made is left alone.
void drop_half_made_state(PyObject* state_dict, PyObject* id) {
    if (PyDict_GetItemWithError(state_dict, id) != nullptr) PyDict_DelItem(state_dict, id);
    pybind11::detail::internals** const holder = pybind11::detail::get_internals_pp();
    if (holder == nullptr || *holder == nullptr) return;
    Py_XDECREF(reinterpret_cast<PyObject*>((*holder)->static_property_type));
    Py_XDECREF(reinterpret_cast<PyObject*>((*holder)->default_metaclass));
    delete *holder;  // its destructor deletes the thread keys
    *holder = nullptr;
}

void set_up_pybind11() {
    PyObject* const state_dict = pybind11_state_dict();
    if (state_dict == nullptr) throw pending_python_error;
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
            const KeptPythonError cause;
            drop_half_made_state(state_dict, id);
        }
        Py_DECREF(id);
        throw;
    }
    Py_DECREF(id);
}
#else
// pybind11 3.x keeps a holder in the interpreter's dictionary for good, fills
// it with its state, and then makes the base of its instance types; should
// that fail, it would keep the state without it for good. The state is
// released, with the types it made; its thread keys go with it. A state that
// has the base is whole, made by an earlier import, and left alone.
void drop_half_made_state() {
    auto& made = *pybind11::detail::get_internals_pp_manager().get_pp();
    if (!made || made->instance_base != nullptr) return;
    Py_XDECREF(reinterpret_cast<PyObject*>(made->static_property_type));
    Py_XDECREF(reinterpret_cast<PyObject*>(made->default_metaclass));
    made.reset();
}

void set_up_pybind11() {
    if (pybind11_state_dict() == nullptr) throw pending_python_error;
    try {
        PYBIND11_ENSURE_INTERNALS_READY
    } catch (...) {
        const KeptPythonError cause;
        // Asking for the holder fails again if making it is what failed: then
        // there is nothing to undo.
        try {
            drop_half_made_state();
        } catch (...) {
        }
        throw;
    }
}
#endif

}  // namespace
}  // namespace korvel::module

extern "C" PYBIND11_EXPORT PyObject* PyInit_korvel() {
    PYBIND11_CHECK_PYTHON_VERSION
    if (korvel::module::refuse_sub_interpreter()) return nullptr;
    korvel::module::find_main_stack();
    PyObject* created = nullptr;
    try {
        korvel::module::set_up_pybind11();
        if (!korvel::module::find_collector_switches()) throw korvel::module::pending_python_error;
        created = PyModule_Create(&korvel::module::definition);
        if (created == nullptr) throw korvel::module::pending_python_error;
        korvel::module::define(created);
        return created;
    } catch (const korvel::module::PendingPythonError&) {
        korvel::module::raise_import_error("initialization failed");
    } catch (pybind11::error_already_set& e) {
        e.restore();
        korvel::module::raise_import_error("initialization failed");
    } catch (const std::exception& e) {
        korvel::module::raise_import_error(e.what());
    } catch (...) {
        korvel::module::raise_import_error("initialization failed");
    }
    Py_XDECREF(created);
    return nullptr;
}
