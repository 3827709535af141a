// B8's floor: Int and Add bound with nothing but pybind11's py::init, the least that the core
// module's bindings may cost. The node is allocated by the binding and adopted by its holder.
#include <pybind11/pybind11.h>

#include <memory>

#include "core/expr.hpp"

namespace py = pybind11;

PYBIND11_MODULE(plain_nodes, m) {
    using namespace tavrelo;
    // Module-local: the core module registers the same C++ classes in the same process.
    py::class_<Expr, ExprPtr>(m, "Expr", py::module_local());
    py::class_<Int, Expr, std::shared_ptr<Int>>(m, "Int", py::module_local())
        .def(py::init<int>(), py::arg("value"));
    py::class_<Add, Expr, std::shared_ptr<Add>>(m, "Add", py::module_local())
        .def(py::init<ExprPtr, ExprPtr>(), py::arg("left"), py::arg("right"));
}
