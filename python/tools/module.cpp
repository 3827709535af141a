// The second extension module: what the package offers beyond the core module's fixed surface.
#include <pybind11/pybind11.h>

#include "python/tools/bind.hpp"

namespace py = pybind11;

PYBIND11_MODULE(_tavrelo_tools, m) {
    m.doc() = "Tavrelo: 構造比較・直列化・微分・構文解析・代入・数値評価";
    // The node classes are registered by the core module; they must exist before any function
    // here names them in a signature.
    py::module_::import("tavrelo._tavrelo_core");
    tavrelo::python::bind_compare(m);
    tavrelo::python::bind_serial(m);
    tavrelo::python::bind_diff(m);
    tavrelo::python::bind_parse(m);
    tavrelo::python::bind_subs(m);
    tavrelo::python::bind_evaluate(m);
}
