// The fast constructors behind node_metaclass(). A call such as Add(a, b) reaches the class's
// tp_vectorcall; when the arguments have the common shape (positional, exact node classes or
// exact int/str) the node is made and wrapped here, and anything else is handed to the metaclass's
// ordinary tp_call, i.e. to pybind11's dispatcher with its conversions and error messages.
//
// Wrapping a node follows what pybind11 3.1 does for a py::init factory returning a shared_ptr
// (allocate the instance, set the value pointer, register the instance, construct the holder),
// using its detail API; the pybind11 version is pinned.
#include "python/core/fast_construct.hpp"

#include <algorithm>
#include <array>
#include <climits>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

#include "core/expr.hpp"

namespace py = pybind11;
namespace pyd = pybind11::detail;

namespace tavrelo::python {
namespace {

using Args = std::span<PyObject* const>;

// The classes with a fast constructor, and how to share the node their instances hold. Only
// the main interpreter's classes get one: a legacy subinterpreter builds its own classes, which
// keep pybind11's metaclass and are called the ordinary way.
struct Bound {
    PyTypeObject* type = nullptr;
    ExprPtr (*share)(pyd::instance*) = nullptr;
};

constexpr std::size_t node_classes = 16;
std::array<Bound, node_classes> bound{};
std::size_t bound_count = 0;

// The class bound for Node, pybind11's record of it, and the version tag the class had when it
// got its fast constructor. CPython changes the tag when an attribute of the class is set or
// deleted; a class whose __init__ was replaced from Python is then called the ordinary way.
struct Own {
    PyTypeObject* type = nullptr;
    const pyd::type_info* info = nullptr;
    unsigned int version = 0;
};
template <class Node>
Own own{};

bool in_main_interpreter() { return PyInterpreterState_Get() == PyInterpreterState_Main(); }

template <class Node>
ExprPtr share_holder(pyd::instance* inst) {
    return pyd::value_and_holder(inst, nullptr, 0, 0).holder<std::shared_ptr<Node>>();
}

// The node held by an instance of exactly one of our classes whose holder is in place; false for
// anything else (None, other objects, subclasses, an instance made by __new__ alone).
bool load_child(PyObject* obj, ExprPtr& out) {
    PyTypeObject* const type = Py_TYPE(obj);
    for (std::size_t i = 0; i < bound_count; ++i) {
        if (bound[i].type != type) {
            continue;
        }
        auto* const inst = reinterpret_cast<pyd::instance*>(obj);
        if (!inst->simple_layout || !inst->simple_holder_constructed) {
            return false;
        }
        out = bound[i].share(inst);
        return true;
    }
    return false;
}

// An exact int that fits signed 32 bits; bool, __index__ objects and big ints go the slow way.
bool load_int(PyObject* obj, int& out) {
    if (!PyLong_CheckExact(obj)) {
        return false;
    }
    int overflow = 0;
    const long value = PyLong_AsLongAndOverflow(obj, &overflow);
    if (overflow != 0 || value < INT_MIN || value > INT_MAX) {
        return false;
    }
    out = static_cast<int>(value);
    return true;
}

template <class Node>
concept Unary = requires(const Node& n) {
    n.operand;
};

template <class Node>
concept Constant = std::is_default_constructible_v<Node>;

// The node for the arguments, or null when they are not of the common shape. May throw (a
// Rational with a zero denominator); the caller then lets the ordinary path report it. These
// nodes come from the general heap, which keeps consecutive constructions close together in
// memory (see core/node_pool.hpp).
template <class Node>
std::shared_ptr<Node> build(Args args) {
    if constexpr (std::is_same_v<Node, Int>) {
        int value = 0;
        if (args.size() == 1 && load_int(args[0], value)) {
            return std::make_shared<Int>(value);
        }
    } else if constexpr (std::is_same_v<Node, Rational>) {
        int num = 0;
        int den = 0;
        if (args.size() == 2 && load_int(args[0], num) && load_int(args[1], den)) {
            return std::make_shared<Rational>(num, den);
        }
    } else if constexpr (std::is_same_v<Node, Var>) {
        if (args.size() == 1 && PyUnicode_CheckExact(args[0])) {
            Py_ssize_t size = 0;
            const char* const text = PyUnicode_AsUTF8AndSize(args[0], &size);
            if (text == nullptr) {  // no UTF-8 form (a lone surrogate): refused the slow way
                PyErr_Clear();
                return nullptr;
            }
            return std::make_shared<Var>(std::string(text, static_cast<std::size_t>(size)));
        }
    } else if constexpr (Constant<Node>) {
        if (args.empty()) {
            return std::make_shared<Node>();
        }
    } else if constexpr (Unary<Node>) {
        ExprPtr operand;
        if (args.size() == 1 && load_child(args[0], operand)) {
            return std::make_shared<Node>(std::move(operand));
        }
    } else {
        ExprPtr first;
        ExprPtr second;
        if (args.size() == 2 && load_child(args[0], first) && load_child(args[1], second)) {
            return std::make_shared<Node>(std::move(first), std::move(second));
        }
    }
    return nullptr;
}

// A new instance of `type` holding `node`, set up as pybind11's allocate_layout and
// init_instance would for a class of simple layout; null with a Python error on failure.
template <class Node>
PyObject* wrap(PyTypeObject* type, std::shared_ptr<Node> node) {
    PyObject* const self = type->tp_alloc(type, 0);
    if (self == nullptr) {
        return nullptr;
    }
    auto* const inst = reinterpret_cast<pyd::instance*>(self);
    inst->simple_layout = true;
    inst->simple_holder_constructed = false;
    inst->simple_instance_registered = false;
    inst->owned = true;
    pyd::value_and_holder v_h(inst, own<Node>.info, 0, 0);
    v_h.value_ptr() = node.get();
    // The holder first: should registering throw, deallocation then releases the node once.
    new (std::addressof(v_h.holder<std::shared_ptr<Node>>()))
        std::shared_ptr<Node>(std::move(node));
    v_h.set_holder_constructed();
    try {
        pyd::register_instance(inst, v_h.value_ptr(), v_h.type);
    } catch (const std::bad_alloc&) {
        Py_DECREF(self);
        PyErr_NoMemory();
        return nullptr;
    }
    v_h.set_instance_registered();
    return self;
}

// The metaclass's ordinary call, with the vectorcall arguments as a tuple and a dict.
PyObject* call_slowly(PyObject* cls, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    const Py_ssize_t nargs = PyVectorcall_NARGS(nargsf);
    py::handle positional = PyTuple_New(nargs);
    if (!positional) {
        return nullptr;
    }
    const auto arguments = py::reinterpret_steal<py::tuple>(positional);
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        PyTuple_SET_ITEM(positional.ptr(), i, py::handle(args[i]).inc_ref().ptr());
    }
    py::object keywords;
    if (kwnames != nullptr) {
        keywords = py::reinterpret_steal<py::object>(PyDict_New());
        if (!keywords) {
            return nullptr;
        }
        for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(kwnames); ++i) {
            if (PyDict_SetItem(keywords.ptr(), PyTuple_GET_ITEM(kwnames, i), args[nargs + i]) < 0) {
                return nullptr;
            }
        }
    }
    if (Py_EnterRecursiveCall(" while calling a Python object") != 0) {
        return nullptr;
    }
    PyObject* const result = Py_TYPE(cls)->tp_call(cls, arguments.ptr(), keywords.ptr());
    Py_LeaveRecursiveCall();
    return result;
}

template <class Node>
PyObject* construct(PyObject* cls, PyObject* const* args, std::size_t nargsf, PyObject* kwnames) {
    auto* const type = reinterpret_cast<PyTypeObject*>(cls);
    if ((kwnames == nullptr || PyTuple_GET_SIZE(kwnames) == 0) && type == own<Node>.type &&
        type->tp_version_tag == own<Node>.version) {
        std::shared_ptr<Node> node;
        try {
            node = build<Node>(Args(args, static_cast<std::size_t>(PyVectorcall_NARGS(nargsf))));
        } catch (...) {
            // Refused by the node itself: the ordinary path raises the same error again.
        }
        if (node) {
            return wrap(type, std::move(node));
        }
    }
    return call_slowly(cls, args, nargsf, kwnames);
}

PyTypeObject* make_metaclass() {
    // Calling a class then reads the function in the class object's own tp_vectorcall field.
    static PyMemberDef members[] = {
        {"__vectorcalloffset__", Py_T_PYSSIZET,
         static_cast<Py_ssize_t>(offsetof(PyTypeObject, tp_vectorcall)), Py_READONLY, nullptr},
        {nullptr, 0, 0, 0, nullptr},
    };
    static PyType_Slot slots[] = {
        {Py_tp_members, members},
        {0, nullptr},
    };
    static PyType_Spec spec = {"tavrelo._tavrelo_core.NodeType", 0, 0,
                               Py_TPFLAGS_DEFAULT | Py_TPFLAGS_HAVE_VECTORCALL, slots};
    // pybind11's metaclass is the base: its call, attribute access and cleanup are inherited.
    auto* const base = reinterpret_cast<PyObject*>(pyd::get_internals().default_metaclass);
    PyObject* const meta = PyType_FromMetaclass(nullptr, nullptr, &spec, base);
    if (meta == nullptr) {
        throw py::error_already_set();
    }
    return reinterpret_cast<PyTypeObject*>(meta);
}

}  // namespace

py::handle node_metaclass() {
    if (!in_main_interpreter()) {
        return reinterpret_cast<PyObject*>(pyd::get_internals().default_metaclass);
    }
    // Created once and kept for the life of the process, like the classes.
    static PyTypeObject* const meta = make_metaclass();
    return reinterpret_cast<PyObject*>(meta);
}

template <class Node>
void install_fast_constructor(py::handle cls) {
    if (!in_main_interpreter()) {
        return;
    }
    auto* const type = reinterpret_cast<PyTypeObject*>(cls.ptr());
    if (Py_TYPE(type) != reinterpret_cast<PyTypeObject*>(node_metaclass().ptr())) {
        py::pybind11_fail("install_fast_constructor: the class does not have node_metaclass()");
    }
    const auto& infos = pyd::all_type_info(type);
    if (infos.size() != 1 ||
        infos.front()->holder_size_in_ptrs > pyd::instance_simple_holder_in_ptrs() ||
        PyUnstable_Type_AssignVersionTag(type) == 0) {
        return;
    }
    // Should the module be set up again, the new class takes the place of the old one.
    const auto found = std::find_if(bound.begin(), bound.begin() + bound_count,
                                    [](const Bound& b) { return b.share == &share_holder<Node>; });
    if (found == bound.begin() + bound_count) {
        if (bound_count == bound.size()) {
            py::pybind11_fail("install_fast_constructor: more node classes than expected");
        }
        ++bound_count;
    }
    *found = Bound{type, &share_holder<Node>};
    own<Node> = Own{type, infos.front(), type->tp_version_tag};
    type->tp_vectorcall = &construct<Node>;
}

template void install_fast_constructor<Int>(py::handle);
template void install_fast_constructor<Var>(py::handle);
template void install_fast_constructor<Rational>(py::handle);
template void install_fast_constructor<Neg>(py::handle);
template void install_fast_constructor<Add>(py::handle);
template void install_fast_constructor<Mul>(py::handle);
template void install_fast_constructor<Div>(py::handle);
template void install_fast_constructor<Pow>(py::handle);
template void install_fast_constructor<Sqrt>(py::handle);
template void install_fast_constructor<Pi>(py::handle);
template void install_fast_constructor<E>(py::handle);
template void install_fast_constructor<Cbrt>(py::handle);
template void install_fast_constructor<Sin>(py::handle);
template void install_fast_constructor<Cos>(py::handle);
template void install_fast_constructor<Tan>(py::handle);
template void install_fast_constructor<Log>(py::handle);

}  // namespace tavrelo::python
