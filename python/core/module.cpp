// The extension module: the seventeen classes, their constructors and accessors, and the two
// module functions. No algebra lives here.
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <string>
#include <utility>

#include "core/expr.hpp"
#include "expand/expand.hpp"
#include "python/core/fast_construct.hpp"
#include "simplify/simplify.hpp"

namespace py = pybind11;
using namespace pybind11::literals;

namespace tavrelo {
namespace {

template <class Node>
using Held = std::shared_ptr<Node>;

template <class Node>
using Class = py::class_<Node, Expr, Held<Node>>;

// Methods take `self` by its holder: an instance made by __new__ alone has no node, and the
// holder's loader refuses it (RuntimeError) where a plain reference would read unset memory.
// Python also lets `__class__` be reassigned between classes of one layout, so the class of
// `self` does not prove what its node is: accessors check before they read a field.
template <class Node>
const Node& node_of(const Held<Node>& self, const char* class_name) {
    const auto* node = dynamic_cast<const Node*>(static_cast<const Expr*>(self.get()));
    if (node == nullptr) {
        throw py::type_error(std::string("the object does not hold a node of class ") + class_name);
    }
    return *node;
}

// A node class: pybind11's class with calls through the fast constructor. Call finish() once
// every method is defined, since defining one afterwards turns the fast path off for the class.
template <class Node>
Class<Node> node_class(py::module_& m, const char* name) {
    return Class<Node>(m, name, py::metaclass(python::node_metaclass()));
}

template <class Node>
void finish(const Class<Node>& cls) {
    python::install_fast_constructor<Node>(cls);
}

template <class Node>
void bind_unary(py::module_& m, const char* name) {
    auto cls = node_class<Node>(m, name);
    cls.def(py::init([](ExprPtr operand) { return std::make_shared<Node>(std::move(operand)); }),
            py::arg("operand").none(false))
        .def("operand", [name](const Held<Node>& n) { return node_of(n, name).operand; });
    finish(cls);
}

template <class Node, auto First, auto Second>
void bind_binary(py::module_& m, const char* name, const char* first, const char* second) {
    auto cls = node_class<Node>(m, name);
    cls.def(py::init([](ExprPtr a, ExprPtr b) {
                return std::make_shared<Node>(std::move(a), std::move(b));
            }),
            py::arg(first).none(false), py::arg(second).none(false))
        .def(first, [name](const Held<Node>& n) { return node_of(n, name).*First; })
        .def(second, [name](const Held<Node>& n) { return node_of(n, name).*Second; });
    finish(cls);
}

template <class Node>
void bind_constant(py::module_& m, const char* name) {
    auto cls = node_class<Node>(m, name);
    cls.def(py::init([] { return std::make_shared<Node>(); }));
    finish(cls);
}

}  // namespace
}  // namespace tavrelo

PYBIND11_MODULE(_tavrelo_core, m) {
    using namespace tavrelo;
    m.doc() = "Tavrelo: 高校数Ⅲレベルの数式処理ライブラリ (C++ core)";

    py::class_<Expr, ExprPtr>(m, "Expr", py::metaclass(python::node_metaclass()))
        .def(
            "to_string", [](const ExprPtr& self) { return self->to_string(); },
            "LaTeX形式の文字列を返す");
    auto integer = node_class<Int>(m, "Int");
    integer.def(py::init([](int value) { return std::make_shared<Int>(value); }), py::arg("value"))
        .def("value", [](const Held<Int>& n) { return node_of(n, "Int").value; });
    finish(integer);
    auto variable = node_class<Var>(m, "Var");
    variable
        .def(py::init([](std::string name) { return std::make_shared<Var>(std::move(name)); }),
             py::arg("name"))
        .def("name", [](const Held<Var>& n) { return node_of(n, "Var").name; });
    finish(variable);
    auto rational = node_class<Rational>(m, "Rational");
    rational
        .def(py::init([](int num, int den) { return std::make_shared<Rational>(num, den); }),
             py::arg("num"), py::arg("den"))
        .def("num", [](const Held<Rational>& n) { return node_of(n, "Rational").num; })
        .def("den", [](const Held<Rational>& n) { return node_of(n, "Rational").den; });
    finish(rational);
    // The classes with children and the constants, in kind order, from the list of kinds.
#define TAVRELO_UNARY(Name, Number, Prec, Operand) bind_unary<Name>(m, #Name);
#define TAVRELO_BINARY(Name, Number, Prec, First, Second)                                          \
    bind_binary<Name, &Name::First, &Name::Second>(m, #Name, #First, #Second);
#define TAVRELO_CONSTANT(Name, Number, Prec) bind_constant<Name>(m, #Name);
#include "core/kinds.def"

    m.def("simplify", &simplify, py::arg("expr"), "数式を簡略化する");
    m.def("expand", &expand, py::arg("expr"), "数式を展開して同類項をまとめる");
}
