// korvel: the Python module. Glue only: it runs the table build and hands both
// tables to Python as plain lists.
//
// The entry is korvel's own, in the steps of pybind11's standard one: check the
// interpreter's version, set up pybind11, create the module, register
// get_lists and __version__. Every step's failure leaves as a Python exception
// from the import, where pybind11's entry lets some escape and end the
// process, or ignores them; and it does the same with every pybind11 release
// korvel builds with.
#include <exception>

#include <pybind11/pybind11.h>

#if !defined(PYBIND11_VERSION_HEX) || PYBIND11_VERSION_HEX < 0x020A0200
#error "korvel needs pybind11 2.10.2 or later: before, its error handling can end the process when memory runs out"
#endif

#include "collector_pause.hpp"
#include "python_lists.hpp"

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

void define(pybind11::module_& m) {
    // As module_::def registers a function, in a module that has no other
    // get_lists to chain, except that failing to add it fails the import.
    pybind11::cpp_function function(&get_lists, pybind11::name("get_lists"), pybind11::scope(m),
                                    pybind11::sibling(pybind11::none()),
                                    R"pbdoc(
        get the lists containing the korvels.
    )pbdoc");
    if (PyModule_AddObject(m.ptr(), "get_lists", function.inc_ref().ptr()) != 0) {
        function.dec_ref();
        throw pending_python_error;
    }
    m.attr("__version__") = "dev";
}

// pybind11's own set-up step of a module entry, whatever this release makes
// it, kept as it is. pybind11 2 keeps its state in one object for the process,
// made by the first module that needs it and published among the builtins;
// should making it fail halfway, the half is dropped, so that the next import,
// korvel's or another module's, makes it afresh rather than trusting it.
void set_up_pybind11() {
#if PYBIND11_VERSION_MAJOR < 3
    PyObject* const builtins = PyEval_GetBuiltins();
    PyObject* const id = PyUnicode_FromString(PYBIND11_INTERNALS_ID);
    if (id == nullptr) throw pending_python_error;
    const bool made_before = PyDict_GetItemWithError(builtins, id) != nullptr;
    if (!made_before && PyErr_Occurred()) {
        Py_DECREF(id);
        throw pending_python_error;
    }
    try {
        PYBIND11_ENSURE_INTERNALS_READY
    } catch (...) {
        if (!made_before) {
            PyObject *type, *value, *traceback;
            PyErr_Fetch(&type, &value, &traceback);
            if (PyDict_GetItemWithError(builtins, id) != nullptr) PyDict_DelItem(builtins, id);
            PyErr_Restore(type, value, traceback);
            pybind11::detail::get_internals_pp() = nullptr;
        }
        Py_DECREF(id);
        throw;
    }
    Py_DECREF(id);
#else
    // pybind11 3 keeps its state in the interpreter's dictionary, which the
    // interpreter makes when first asked, and takes a dictionary that could not
    // be made for an error Python reported, which it did not.
    if (PyInterpreterState_GetDict(PyInterpreterState_Get()) == nullptr) {
        PyErr_NoMemory();
        throw pending_python_error;
    }
    // It makes its state, and then the base of its instance types; should
    // that fail, it would keep the state without it for good.
    try {
        PYBIND11_ENSURE_INTERNALS_READY
    } catch (...) {
        auto& made = *pybind11::detail::get_internals_pp_manager().get_pp();
        if (made && made->instance_base == nullptr) made.reset();
        throw;
    }
#endif
}

}  // namespace
}  // namespace korvel::module

extern "C" PYBIND11_EXPORT PyObject* PyInit_korvel() {
    PYBIND11_CHECK_PYTHON_VERSION
    if (korvel::module::refuse_sub_interpreter()) return nullptr;
    PyObject* created = nullptr;
    try {
        korvel::module::set_up_pybind11();
        if (!korvel::module::find_collector_switches()) throw korvel::module::pending_python_error;
        created = PyModule_Create(&korvel::module::definition);
        if (created == nullptr) throw korvel::module::pending_python_error;
        auto m = pybind11::reinterpret_borrow<pybind11::module_>(created);
        korvel::module::define(m);
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
