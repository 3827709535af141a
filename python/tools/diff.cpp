// diff(expr, var, n=1): derivatives, simplified and in textbook form.
#include <pybind11/pybind11.h>

#include <climits>
#include <string>
#include <utility>

#include "core/expr.hpp"
#include "diff/diff.hpp"
#include "python/tools/bind.hpp"

namespace py = pybind11;

namespace tavrelo::python {
namespace {

std::string type_name(const py::handle& obj) {
    return py::str(py::type::handle_of(obj).attr("__name__"));
}

ExprPtr expression_of(const py::object& expr) {
    if (expr.is_none()) {
        return nullptr;
    }
    if (!py::isinstance<Expr>(expr)) {
        throw py::type_error("diff: expr には数式 (Expr) か None を指定してください (" +
                             type_name(expr) + " が渡されました)");
    }
    return expr.cast<ExprPtr>();
}

std::string variable_name(const py::object& var) {
    if (py::isinstance<py::str>(var)) {
        return var.cast<std::string>();
    }
    if (py::isinstance<Expr>(var)) {
        const ExprPtr node = var.cast<ExprPtr>();
        if (kind_of(*node) == ExprKind::Var) {
            return as<Var>(*node).name;
        }
    }
    throw py::type_error("diff: var には Var か変数名の str を指定してください (" + type_name(var) +
                         " が渡されました)");
}

// Any integer (an int or an object with __index__, such as a NumPy integer), but not a bool.
int order_of(const py::object& n) {
    if (!PyIndex_Check(n.ptr()) || PyBool_Check(n.ptr())) {
        throw py::type_error("diff: n には 0 以上の int を指定してください (" + type_name(n) +
                             " が渡されました)");
    }
    const py::object as_int = py::reinterpret_steal<py::object>(PyNumber_Index(n.ptr()));
    if (!as_int) {
        throw py::error_already_set();
    }
    int overflow = 0;
    const long long v = PyLong_AsLongLongAndOverflow(as_int.ptr(), &overflow);
    if (overflow < 0 || (overflow == 0 && v < 0)) {
        throw py::value_error("diff: 微分の階数 n は 0 以上でなければなりません (n = " +
                              std::string(py::str(n)) + ")");
    }
    if (overflow > 0 || v > INT_MAX) {
        throw py::value_error("diff: 微分の階数 n が大きすぎます (上限 2147483647)");
    }
    return static_cast<int>(v);
}

py::object diff_of(const py::object& expr, const py::object& var, const py::object& n) {
    ExprPtr e = expression_of(expr);
    const std::string name = variable_name(var);
    const int order = order_of(n);
    if (!e) {
        return py::none();
    }
    // Between derivatives the interpreter lock is taken back briefly, so that Ctrl-C stops a
    // high order whose results grow.
    const auto check_signals = [] {
        const py::gil_scoped_acquire hold;
        if (PyErr_CheckSignals() != 0) {
            throw py::error_already_set();
        }
    };
    ExprPtr result;
    {
        const py::gil_scoped_release release;
        result = diff(std::move(e), name, order, check_signals);
    }
    return py::cast(std::move(result));
}

}  // namespace

void bind_diff(py::module_& m) {
    m.def("diff", &diff_of, py::arg("expr"), py::arg("var"), py::arg("n") = 1,
          "数式を変数で n 回微分し、簡略化した結果を返す");
}

}  // namespace tavrelo::python
