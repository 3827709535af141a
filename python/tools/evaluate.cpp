// evaluate(expr, values) and compile(expr, variables): numbers and NumPy arrays in, the value out.
// NumPy is optional: it is only touched when an argument is an array, so scalars work without it
// and importing the module never imports it.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "evaluate/evaluate.hpp"
#include "python/tools/bind.hpp"
#include "python/tools/names.hpp"

namespace py = pybind11;

namespace tavrelo::python {
namespace {

using Program = std::shared_ptr<const NumericProgram>;

bool numpy_is_loaded() {
    const PyObject* numpy = PyDict_GetItemString(PyImport_GetModuleDict(), "numpy");
    return numpy != nullptr && numpy != Py_None;
}

py::module_ import_numpy() {
    try {
        return py::module_::import("numpy");
    } catch (py::error_already_set& error) {
        if (!error.matches(PyExc_ImportError)) {
            throw;
        }
        throw py::import_error(
            "配列の値には NumPy が必要です: pip install 'tavrelo[numpy]' で入れてください");
    }
}

// The arguments of one call, one per variable of the program: numbers, or arrays of doubles
// that broadcast together.
class Arguments {
public:
    explicit Arguments(const NumericProgram& program) : program_(program) {
        const std::size_t n = program.variables().size();
        numbers_.resize(n);
        arrays_.resize(n);
    }

    void set(std::size_t i, py::handle value) {
        const std::string& name = program_.variables()[i];
        const PyObject* p = value.ptr();
        if (PyBool_Check(p) || PyComplex_Check(p) || PyUnicode_Check(p) || PyBytes_Check(p)) {
            throw py::type_error("変数 " + shown(name) +
                                 " の値は実数か実数の配列でなければなりません (" +
                                 Py_TYPE(p)->tp_name + " が渡されました)");
        }
        const bool is_ndarray = numpy_is_loaded() && py::isinstance<py::array>(value);
        if (!is_ndarray && (PyFloat_Check(p) || PyLong_Check(p) || PyNumber_Check(value.ptr()))) {
            numbers_[i] = number(value, name);
            return;
        }
        arrays_[i] = array(value, name);
        any_array_ = true;
    }

    // The value: a float when every argument is a number, else an array of the broadcast shape.
    py::object evaluate() const {
        if (!any_array_) {
            double v = 0;
            {
                const py::gil_scoped_release unlocked;
                v = program_(numbers_);
            }
            return py::float_(v);
        }
        std::vector<ArrayArg> args(numbers_.size());
        for (std::size_t i = 0; i < args.size(); ++i) {
            if (arrays_[i]) {
                const auto a = py::reinterpret_borrow<py::array>(arrays_[i]);
                args[i].data = static_cast<const double*>(a.data());
                for (py::ssize_t d = 0; d < a.ndim(); ++d) {
                    args[i].shape.push_back(static_cast<std::size_t>(a.shape(d)));
                    args[i].strides.push_back(a.strides(d) / py::ssize_t{sizeof(double)});
                }
            } else {
                args[i].data = &numbers_[i];
            }
        }
        const std::vector<std::size_t> shape = program_.broadcast_shape(args);
        py::array_t<double> out(std::vector<py::ssize_t>(shape.begin(), shape.end()));
        double* data = out.mutable_data();
        {
            const py::gil_scoped_release unlocked;
            program_.run(args, data);
        }
        return out;
    }

private:
    static double number(py::handle value, const std::string& name) {
        const double v = PyFloat_AsDouble(value.ptr());
        if (v == -1.0 && PyErr_Occurred() != nullptr) {
            const py::error_already_set error;
            throw py::value_error("変数 " + shown(name) + " の値を double にできません: " +
                                  std::string(py::str(error.value())));
        }
        return v;
    }

    // A read-only view of doubles, aligned, with strides in whole elements.
    static py::array array(py::handle value, const std::string& name) {
        const py::module_ np = import_numpy();
        py::object converted;
        bool real = false;
        try {
            converted = np.attr("asarray")(value);
            const std::string kind = py::str(converted.attr("dtype").attr("kind"));
            real = kind.find_first_of("biuf") != std::string::npos;
            if (real) {
                converted = np.attr("asarray")(converted, np.attr("float64"));
            }
        } catch (py::error_already_set&) {
            real = false;
        }
        if (!real) {
            throw py::type_error("変数 " + shown(name) + " の値を実数の配列にできません");
        }
        auto a = py::reinterpret_borrow<py::array>(converted);
        bool aligned = (reinterpret_cast<std::uintptr_t>(a.data()) % alignof(double)) == 0;
        for (py::ssize_t d = 0; d < a.ndim(); ++d) {
            aligned = aligned && a.strides(d) % py::ssize_t{sizeof(double)} == 0;
        }
        if (!aligned) {
            a = py::reinterpret_borrow<py::array>(np.attr("ascontiguousarray")(a));
        }
        return a;
    }

    const NumericProgram& program_;
    std::vector<double> numbers_;
    std::vector<py::object> arrays_;  // an ndarray, or empty for a number
    bool any_array_ = false;
};

Program make_program(ExprPtr expr, std::vector<std::string> variables) {
    const py::gil_scoped_release unlocked;
    return std::make_shared<const NumericProgram>(std::move(expr), std::move(variables));
}

py::object evaluate(ExprPtr expr, const py::object& values) {
    std::vector<std::string> names;
    std::vector<py::object> given;
    for (auto& [key, value] : mapping_items(values, "evaluate")) {
        names.push_back(variable_name(key, "evaluate のキー"));
        given.push_back(std::move(value));
    }
    const Program program = make_program(std::move(expr), std::move(names));
    Arguments args(*program);
    for (std::size_t i = 0; i < given.size(); ++i) {
        args.set(i, given[i]);
    }
    return args.evaluate();
}

// What compile() returns: the program, called with one value per variable.
class Compiled {
public:
    explicit Compiled(Program program) : program_(std::move(program)) {
        const auto& names = program_->variables();
        for (std::size_t i = 0; i < names.size(); ++i) {
            index_.emplace(names[i], i);
        }
    }

    py::object call(const py::args& positional, const py::kwargs& keywords) const {
        const auto& names = program_->variables();
        if (positional.size() > names.size()) {
            throw py::type_error("値が多すぎます: 変数は " + std::to_string(names.size()) +
                                 " 個, 値は " + std::to_string(positional.size()) + " 個です");
        }
        std::vector<py::object> given(names.size());
        for (std::size_t i = 0; i < positional.size(); ++i) {
            given[i] = positional[i];
        }
        for (const auto& [key, value] : keywords) {
            const auto name = key.cast<std::string>();
            const auto it = index_.find(name);
            if (it == index_.end()) {
                throw py::type_error("変数 " + name + " はこの式の変数一覧にありません");
            }
            if (given[it->second]) {
                throw py::type_error("変数 " + name + " に値が二度与えられました");
            }
            given[it->second] = py::reinterpret_borrow<py::object>(value);
        }
        Arguments args(*program_);
        for (std::size_t i = 0; i < given.size(); ++i) {
            if (!given[i]) {
                throw py::type_error("変数 " + shown(names[i]) + " の値が与えられていません");
            }
            args.set(i, given[i]);
        }
        return args.evaluate();
    }

    [[nodiscard]] py::tuple variables() const {
        py::tuple names(program_->variables().size());
        for (std::size_t i = 0; i < names.size(); ++i) {
            names[i] = py::str(program_->variables()[i]);
        }
        return names;
    }

    [[nodiscard]] const ExprPtr& expr() const { return program_->expr(); }

    [[nodiscard]] std::string repr() const {
        std::string text = "<Compiled (";
        for (std::size_t i = 0; i < program_->variables().size(); ++i) {
            text += (i > 0 ? ", " : "") + shown(program_->variables()[i]);
        }
        return text + "): " + std::to_string(program_->instructions()) + " instructions>";
    }

private:
    Program program_;
    std::unordered_map<std::string, std::size_t> index_;
};

Compiled compile(ExprPtr expr, const py::iterable& variables) {
    if (PyUnicode_Check(variables.ptr())) {
        throw py::type_error("compile: 変数は名前の並び (['x', 'y'] など) で渡してください");
    }
    std::vector<std::string> names;
    for (const py::handle v : variables) {
        names.push_back(variable_name(v, "compile の変数"));
    }
    return Compiled(make_program(std::move(expr), std::move(names)));
}

}  // namespace

void bind_evaluate(py::module_& m) {
    m.def("evaluate", &evaluate, py::arg("expr").none(false), py::arg("values"),
          "変数に数または NumPy 配列を代入した値を倍精度で返す");
    py::class_<Compiled>(m, "Compiled", "compile が返す、変数の値から式の値を求める関数")
        .def("__call__", &Compiled::call, "変数の値 (数または NumPy 配列) から式の値を返す")
        .def_property_readonly("variables", &Compiled::variables, "変数名の並び")
        .def_property_readonly("expr", &Compiled::expr, "元の式")
        .def("__repr__", &Compiled::repr);
    m.def("compile", &compile, py::arg("expr").none(false), py::arg("variables"),
          "式を、変数の値から値を求める関数にする");
}

}  // namespace tavrelo::python
