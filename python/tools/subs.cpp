// subs(expr, mapping): variables replaced by trees or ints.
#include <climits>
#include <stdexcept>
#include <string>
#include <utility>

#include "core/checked_int.hpp"
#include "python/tools/bind.hpp"
#include "python/tools/names.hpp"
#include "subs/subs.hpp"

namespace py = pybind11;

namespace tavrelo::python {
namespace {

ExprPtr replacement(py::handle value, const std::string& name) {
    if (py::isinstance<Expr>(value)) {
        return value.cast<ExprPtr>();
    }
    if (PyLong_Check(value.ptr()) && !PyBool_Check(value.ptr())) {
        int overflow = 0;
        const long long v = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
        if (overflow != 0 || v < INT_MIN || v > INT_MAX) {
            throw std::invalid_argument(std::string(kOverflowMessage) + ": 変数 " + name +
                                        " の値が符号付き 32 ビットに収まりません");
        }
        return std::make_shared<Int>(static_cast<int>(v));
    }
    throw py::type_error("subs: 変数 " + name + " の値は Expr か int でなければなりません (" +
                         Py_TYPE(value.ptr())->tp_name + " が渡されました)");
}

ExprPtr substitute(const ExprPtr& expr, const py::object& mapping) {
    Replacements replacements;
    for (const auto& [key, value] : mapping_items(mapping, "subs")) {
        std::string name = variable_name(key, "subs のキー");
        ExprPtr tree = replacement(value, shown(name));
        if (replacements.contains(name)) {
            throw std::invalid_argument("subs: 変数 " + shown(name) + " が二度指定されています");
        }
        replacements.emplace(std::move(name), std::move(tree));
    }
    const py::gil_scoped_release unlocked;
    return subs(expr, replacements);
}

}  // namespace

void bind_subs(py::module_& m) {
    m.def("subs", &substitute, py::arg("expr"), py::arg("mapping"),
          "変数を式 (または整数) に置き換えた式を返す");
}

}  // namespace tavrelo::python
