// Variables named from Python, by a str or a Var node, for subs, evaluate and compile.
#pragma once

#include <pybind11/pybind11.h>

#include <string>
#include <utility>
#include <vector>

#include "core/expr.hpp"

namespace tavrelo::python {

// The bytes of the variable's name. `role` says where the object came from, for the message.
inline std::string variable_name(pybind11::handle key, const char* role) {
    namespace py = pybind11;
    if (PyUnicode_Check(key.ptr())) {
        Py_ssize_t size = 0;
        const char* text = PyUnicode_AsUTF8AndSize(key.ptr(), &size);
        if (text == nullptr) {
            PyErr_Clear();
            throw py::type_error(std::string(role) + ": 変数名を UTF-8 に変換できません");
        }
        return {text, static_cast<std::size_t>(size)};
    }
    if (py::isinstance<Expr>(key)) {
        const auto node = key.cast<ExprPtr>();
        if (kind_of(*node) == ExprKind::Var) {
            return as<Var>(*node).name;
        }
    }
    throw py::type_error(std::string(role) + " は変数名 (str) か Var でなければなりません (" +
                         Py_TYPE(key.ptr())->tp_name + " が渡されました)");
}

// A name as it reads in a message: bytes that are not UTF-8 are written as \xNN.
inline std::string shown(const std::string& name) {
    namespace py = pybind11;
    const auto text = py::reinterpret_steal<py::str>(PyUnicode_DecodeUTF8(
        name.data(), static_cast<Py_ssize_t>(name.size()), "backslashreplace"));
    if (!text) {
        throw py::error_already_set();
    }
    return text.cast<std::string>();
}

// The (key, value) pairs of a mapping argument, in its order.
inline std::vector<std::pair<pybind11::object, pybind11::object>>
mapping_items(pybind11::handle mapping, const char* function) {
    namespace py = pybind11;
    if (!PyDict_Check(mapping.ptr()) && !py::hasattr(mapping, "items")) {
        throw py::type_error(std::string(function) +
                             ": 第 2 引数は dict などの対応表でなければなりません (" +
                             Py_TYPE(mapping.ptr())->tp_name + " が渡されました)");
    }
    std::vector<std::pair<py::object, py::object>> items;
    for (const py::handle item : mapping.attr("items")()) {
        if (!PyTuple_Check(item.ptr()) || PyTuple_GET_SIZE(item.ptr()) != 2) {
            throw py::type_error(std::string(function) +
                                 ": 対応表の items() が (キー, 値) を返しません");
        }
        const auto pair = py::reinterpret_borrow<py::tuple>(item);
        items.emplace_back(pair[0], pair[1]);
    }
    return items;
}

}  // namespace tavrelo::python
