// korvel module glue: pybind11's headers, the only way the module includes
// them, read as pybind11 is released whatever korvel's build type. Include it
// before anything else of pybind11.
//
// pybind11's ways out of a failed set-up must end in an exception:
// - its error guard takes the interpreter lock through pybind11's state, which
//   may be what failed, and would then throw from a destructor; the simple
//   lock guard asks the interpreter alone (korvel never releases the lock);
// - its debug checks (assert(!PyErr_Occurred()) in pybind11_fail, among
//   others) stop the process on a failure reported while the Python error
//   that caused it is pending, which korvel turns into an ImportError. pybind11
//   has no switch of its own for them, only NDEBUG, so NDEBUG is defined while
//   its headers are read, and only then: korvel's own headers, read after,
//   see the build's NDEBUG exactly as the solver library is compiled with it
//   (each re-includes <cassert>, which defines assert anew), so that their
//   inline functions mean the same in the module and in the library.
#pragma once

#if defined(PYBIND11_VERSION_MAJOR)
#error "pybind11 was included before pybind11_headers.hpp, which must read it first"
#endif

#define PYBIND11_SIMPLE_GIL_MANAGEMENT

#if defined(NDEBUG)
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#else
#define NDEBUG
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>
#undef NDEBUG
#include <cassert>  // assert as the build has it, for whatever follows
#endif

#if !defined(PYBIND11_VERSION_HEX) || PYBIND11_VERSION_HEX < 0x020A0200
#error "korvel needs pybind11 2.10.2 or later: before, its error handling can end the process when memory runs out"
#endif
