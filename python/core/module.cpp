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

template <class Node>
void bind_unary(py::module_& m, const char* name) {
    Class<Node>(m, name)
        .def(py::init([](ExprPtr operand) { return std::make_shared<Node>(std::move(operand)); }),
             py::arg("operand").none(false))
        .def("operand", [name](const Held<Node>& n) { return node_of(n, name).operand; });
}

template <class Node, auto First, auto Second>
void bind_binary(py::module_& m, const char* name, const char* first, const char* second) {
    Class<Node>(m, name)
        .def(py::init([](ExprPtr a, ExprPtr b) {
                 return std::make_shared<Node>(std::move(a), std::move(b));
             }),
             py::arg(first).none(false), py::arg(second).none(false))
        .def(first, [name](const Held<Node>& n) { return node_of(n, name).*First; })
        .def(second, [name](const Held<Node>& n) { return node_of(n, name).*Second; });
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

    py::class_<Expr, ExprPtr> base(m, "Expr");
    // pybind11 gives every class it creates a tp_init of its own, which Python lists as an
    // `__init__` slot in the class's dict. Expr has no constructor: without the slot it inherits
    // the very same function from pybind11's base object, so Expr() fails as before.
    if (py::reinterpret_borrow<py::object>(base.attr("__dict__")).contains("__init__")) {
        py::delattr(base, "__init__");
    }
    base.def(
        "to_string", [](const ExprPtr& self) { return self->to_string(); },
        "LaTeX形式の文字列を返す");
    Class<Int>(m, "Int")
        .def(py::init([](int value) { return std::make_shared<Int>(value); }), py::arg("value"))
        .def("value", [](const Held<Int>& n) { return node_of(n, "Int").value; });
    Class<Var>(m, "Var")
        .def(py::init([](std::string name) { return std::make_shared<Var>(std::move(name)); }),
             py::arg("name"))
        .def("name", [](const Held<Var>& n) { return node_of(n, "Var").name; });
    Class<Rational>(m, "Rational")
        .def(py::init([](int num, int den) { return std::make_shared<Rational>(num, den); }),
             py::arg("num"), py::arg("den"))
        .def("num", [](const Held<Rational>& n) { return node_of(n, "Rational").num; })
        .def("den", [](const Held<Rational>& n) { return node_of(n, "Rational").den; });
    // The classes with children and the constants, in kind order, from the list of kinds.
#define TAVRELO_UNARY(Name, Number, Prec, Operand) bind_unary<Name>(m, #Name);
#define TAVRELO_BINARY(Name, Number, Prec, First, Second)                                          \
    bind_binary<Name, &Name::First, &Name::Second>(m, #Name, #First, #Second);
#define TAVRELO_CONSTANT(Name, Number, Prec) bind_constant<Name>(m, #Name);
#include "core/kinds.def"

    m.def("simplify", &simplify, py::arg("expr"), "数式を簡略化する");
    m.def("expand", &expand, py::arg("expr"), "数式を展開して同類項をまとめる");
}
