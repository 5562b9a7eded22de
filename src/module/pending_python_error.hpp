// korvel module glue: the module's one way of reporting a failure, a Python
// error left set and a C++ exception that carries nothing but that fact.
#pragma once

#include "pybind11_headers.hpp"

namespace korvel::module {

// A Python error that korvel's glue met and left set, for pybind11 (during a
// call) or the module entry (during an import) to pass on as it is. pybind11's
// own error_already_set would take the error up again, which needs memory.
struct PendingPythonError : pybind11::builtin_exception {
    PendingPythonError() : builtin_exception("a Python error is set") {}
    void set_error() const override {}
};

// Thrown as a copy of one made when korvel is loaded: the copy shares its
// message, so throwing allocates no message when memory is out (the C++
// runtime has a reserve for the exception itself).
inline const PendingPythonError pending_python_error;

}  // namespace korvel::module
