// Constructor calls of the node classes that skip pybind11's function dispatcher for the common
// argument shapes. Every other call goes the ordinary way, so conversions, errors and messages stay
// those of the registered constructors.
#pragma once

#include <pybind11/pybind11.h>

namespace tavrelo::python {

// The metaclass of the node classes: pybind11's own, plus calls through vectorcall. Classes that
// have no fast constructor (Expr, subclasses defined in Python) are called as before.
[[nodiscard]] pybind11::handle node_metaclass();

// Gives `cls`, the class bound for Node, its fast constructor. The class must have been
// registered with node_metaclass(); it is left alone when its instances do not use pybind11's
// simple layout. Instantiated for the sixteen node classes.
template <class Node>
void install_fast_constructor(pybind11::handle cls);

}  // namespace tavrelo::python
