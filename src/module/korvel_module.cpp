// korvel: the module's entry, in the steps of pybind11's own, so that every failure of an import
// leaves as a Python exception and the next import works; and the module, with get_lists.
#include <exception>

#include "pybind11_internals.hpp"  // first: it reads pybind11's headers

#include "collector_pause.hpp"
#include "get_lists.hpp"

namespace korvel::module {
namespace {

// korvel's tables live once per process, and pybind11 keeps its state in the
// main interpreter: a sub-interpreter that waits for the interpreter lock under
// pybind11's guard waits for itself, for ever.
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

// Made in one phase, anew by each import that reaches the entry. Its state size
// is 0, not -1: with -1 the interpreter would hand a sub-interpreter a copy of
// the main interpreter's module without calling the entry, and its refusal.
PyModuleDef definition{PyModuleDef_HEAD_INIT, "korvel", nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr};

// As module_::def would, but a failed PyModule_AddObject, whose result
// module_::add_object ignores, fails the import.
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

}  // namespace
}  // namespace korvel::module

// pybind11's own entry lets an exception from its set-up (or, in 2.x, from
// making the module) leave this extern "C" function, and catches only
// error_already_set and std::exception around the rest.
extern "C" PYBIND11_EXPORT PyObject* PyInit_korvel() {
    PYBIND11_CHECK_PYTHON_VERSION
    if (korvel::module::refuse_sub_interpreter()) return nullptr;
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
