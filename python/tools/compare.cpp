// same and structural_hash.
#include <cstdint>

#include "compare/same.hpp"
#include "compare/structural_hash.hpp"
#include "python/tools/bind.hpp"

namespace py = pybind11;

namespace tavrelo::python {

void bind_compare(py::module_& m) {
    m.def(
        "same", [](const ExprPtr& a, const ExprPtr& b) { return same(*a, *b); },
        py::arg("a").none(false), py::arg("b").none(false),
        py::call_guard<py::gil_scoped_release>(),
        "二つの木が構造として同じか（同じクラス・値・名前が同じ位置にある）を返す");
    m.def(
        "structural_hash", [](const ExprPtr& e) -> std::uint64_t { return structural_hash(*e); },
        py::arg("expr").none(false), py::call_guard<py::gil_scoped_release>(),
        "木の構造から決まる 64 ビットのハッシュ値を返す（same "
        "な木では等しく、プロセスや機械によらない）");
}

}  // namespace tavrelo::python
