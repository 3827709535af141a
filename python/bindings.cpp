// The extension module: the seventeen classes, their constructors and accessors, and the two
// module functions. No algebra lives here.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <string>
#include <utility>

#include "core/expr.hpp"
#include "expand/expand.hpp"
#include "simplify/simplify.hpp"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tavrelo {
namespace {

template <class Node>
using Class = py::class_<Node, Expr, std::shared_ptr<Node>>;

template <class Node>
void bind_unary(py::module_& m, const char* name) {
    Class<Node>(m, name)
        .def(py::init([](ExprPtr operand) { return std::make_shared<Node>(std::move(operand)); }),
             py::arg("operand").none(false))
        .def("operand", [](const Node& n) { return n.operand; });
}

template <class Node, auto First, auto Second>
void bind_binary(py::module_& m, const char* name, const char* first, const char* second) {
    Class<Node>(m, name)
        .def(py::init([](ExprPtr a, ExprPtr b) {
                 return std::make_shared<Node>(std::move(a), std::move(b));
             }),
             py::arg(first).none(false), py::arg(second).none(false))
        .def(first, [](const Node& n) { return n.*First; })
        .def(second, [](const Node& n) { return n.*Second; });
}

template <class Node>
void bind_constant(py::module_& m, const char* name) {
    Class<Node>(m, name).def(py::init([] { return std::make_shared<Node>(); }));
}

}  // namespace
}  // namespace tavrelo

PYBIND11_MODULE(_tavrelo_core, m) {
    using namespace tavrelo;
    m.doc() = "Tavrelo: 高校数Ⅲレベルの数式処理ライブラリ (C++ core)";

    py::class_<Expr, ExprPtr>(m, "Expr").def("to_string", &Expr::to_string,
                                             "LaTeX形式の文字列を返す");
    Class<Int>(m, "Int")
        .def(py::init([](int value) { return std::make_shared<Int>(value); }), py::arg("value"))
        .def("value", [](const Int& n) { return n.value; });
    Class<Var>(m, "Var")
        .def(py::init([](std::string name) { return std::make_shared<Var>(std::move(name)); }),
             py::arg("name"))
        .def("name", [](const Var& n) { return n.name; });
    Class<Rational>(m, "Rational")
        .def(py::init([](int num, int den) { return std::make_shared<Rational>(num, den); }),
             py::arg("num"), py::arg("den"))
        .def("num", [](const Rational& n) { return n.num; })
        .def("den", [](const Rational& n) { return n.den; });
    bind_unary<Neg>(m, "Neg");
    bind_binary<Add, &Add::left, &Add::right>(m, "Add", "left", "right");
    bind_binary<Mul, &Mul::left, &Mul::right>(m, "Mul", "left", "right");
    bind_binary<Div, &Div::num, &Div::den>(m, "Div", "num", "den");
    bind_binary<Pow, &Pow::base, &Pow::exp>(m, "Pow", "base", "exp");
    bind_unary<Sqrt>(m, "Sqrt");
    bind_constant<Pi>(m, "Pi");
    bind_constant<E>(m, "E");
    bind_unary<Cbrt>(m, "Cbrt");
    bind_unary<Sin>(m, "Sin");
    bind_unary<Cos>(m, "Cos");
    bind_unary<Tan>(m, "Tan");
    bind_unary<Log>(m, "Log");

    m.def("simplify", &simplify, py::arg("expr"), "数式を簡略化する");
    m.def("expand", &expand, py::arg("expr"), "数式を展開して同類項をまとめる");
}
