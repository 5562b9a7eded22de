// korvel: the Python module. Glue only: it runs the table build and hands both
// tables to Python as plain lists.
#include <pybind11/pybind11.h>

#include "python_lists.hpp"

PYBIND11_MODULE(korvel, m) {
    m.def("get_lists", &korvel::module::get_lists, R"pbdoc(
        get the lists containing the korvels.
    )pbdoc");
    m.attr("__version__") = "dev";
}
