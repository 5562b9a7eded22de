// korvel: the Python module. Glue only: it runs the table build and hands both
// tables to Python as plain lists.
#include <pybind11/pybind11.h>

#include "python_lists.hpp"

namespace korvel::module {

// korvel's tables live once per process, and pybind11 sets up its own state
// under the interpreter lock, which a sub-interpreter's thread already holds:
// a first import there would wait for ever. So the main interpreter must load
// korvel. Once it has, a sub-interpreter's import runs no entry at all: it
// gets a copy of the module, which works.
static bool refuse_sub_interpreter() {
    if (PyInterpreterState_Get() == PyInterpreterState_Main()) return false;
    PyErr_SetString(PyExc_ImportError, "korvel must be imported in the main interpreter, not in a sub-interpreter");
    return true;
}

}  // namespace korvel::module

// PYBIND11_MODULE's entry checks the interpreter version, then sets up
// pybind11's state with this step; the refusal goes in front of that set-up.
#ifndef PYBIND11_ENSURE_INTERNALS_READY
#error "this pybind11's module entry has no step to put the sub-interpreter refusal in"
#endif
#undef PYBIND11_ENSURE_INTERNALS_READY
#define PYBIND11_ENSURE_INTERNALS_READY                             \
    if (korvel::module::refuse_sub_interpreter()) return nullptr; \
    pybind11::detail::get_internals();

PYBIND11_MODULE(korvel, m) {
    m.def("get_lists", &korvel::module::get_lists, R"pbdoc(
        get the lists containing the korvels.
    )pbdoc");
    m.attr("__version__") = "dev";
}
