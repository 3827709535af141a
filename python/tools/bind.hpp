// Registration of the functions of `_tavrelo_tools`, one function per capability folder.
//
// Conventions for every function of this module:
// - node arguments and results are the classes `_tavrelo_core` registers (pybind11 shares them
//   across modules), so they arrive and leave as ExprPtr;
// - after the arguments are converted, the interpreter lock is released for the C++ work
//   (py::call_guard<py::gil_scoped_release>), and taken back to convert the result;
// - errors are std::invalid_argument (ValueError) with a Japanese message, and the library's
//   integer rule holds: an exact result outside signed 32 bits is "整数オーバーフローエラー".
#pragma once

#include <pybind11/pybind11.h>

namespace tavrelo::python {

void bind_compare(pybind11::module_& m);   // same, structural_hash
void bind_serial(pybind11::module_& m);    // dumps, loads
void bind_diff(pybind11::module_& m);      // diff
void bind_parse(pybind11::module_& m);     // parse, parse_latex
void bind_subs(pybind11::module_& m);      // subs
void bind_evaluate(pybind11::module_& m);  // evaluate, compile

}  // namespace tavrelo::python
