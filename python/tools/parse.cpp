// parse, parse_latex and their error class ParseError (a ValueError with the place).
#include <pybind11/pybind11.h>

#include <string>
#include <string_view>

#include "parse/parse.hpp"
#include "python/tools/bind.hpp"

namespace py = pybind11;

namespace tavrelo::python {
namespace {

PYBIND11_CONSTINIT py::gil_safe_call_once_and_store<py::object> parse_error_type;

constexpr const char* kParseErrorDoc =
    "構文エラー: 読めない数式。position は誤りの位置（str の添字）。";

// The UTF-8 of a str; a str that has none (lone surrogates) is refused like any non-text.
std::string_view utf8_of(const py::object& text) {
    if (!PyUnicode_Check(text.ptr())) {
        throw py::type_error(std::string("text には str を渡してください（") +
                             Py_TYPE(text.ptr())->tp_name + " が渡されました）");
    }
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text.ptr(), &size);
    if (data == nullptr) {
        PyErr_Clear();
        throw py::type_error("text に UTF-8 で書けない文字（対のないサロゲート）があります");
    }
    return {data, static_cast<std::size_t>(size)};
}

template <ExprPtr (*Read)(std::string_view, const ParseOptions&)>
ExprPtr read(const py::object& text, bool split_letters) {
    const std::string_view s = utf8_of(text);  // the str keeps the bytes alive
    const py::gil_scoped_release unlocked;
    return Read(s, ParseOptions{split_letters});
}

void raise_parse_error(const ParseError& e) {
    const py::object& type = parse_error_type.get_stored();
    try {
        py::object error = type(py::str(e.what()));
        error.attr("position") = e.position();
        PyErr_SetObject(type.ptr(), error.ptr());
    } catch (py::error_already_set& failed) {
        failed.restore();
    }
}

}  // namespace

void bind_parse(py::module_& m) {
    const py::object& type =
        parse_error_type
            .call_once_and_store_result([] {
                return py::reinterpret_steal<py::object>(
                    PyErr_NewExceptionWithDoc("tavrelo._tavrelo_tools.ParseError", kParseErrorDoc,
                                              PyExc_ValueError, nullptr));
            })
            .get_stored();
    if (!type) {
        throw py::error_already_set();
    }
    m.attr("ParseError") = type;
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) {
                std::rethrow_exception(p);
            }
        } catch (const ParseError& e) {
            raise_parse_error(e);
        }
    });
    m.def("parse", &read<&tavrelo::parse>, py::arg("text"), py::kw_only(),
          py::arg("split_letters") = false,
          "数式（電卓・Python の書き方）を読んで木にする。"
          "split_letters=True なら xy を x·y と読む。誤りは ParseError。");
    m.def("parse_latex", &read<&tavrelo::parse_latex>, py::arg("text"), py::kw_only(),
          py::arg("split_letters") = false,
          "LaTeX の数式を読んで木にする。to_string の出力はそのまま読み戻せる。"
          "split_letters=True なら xy を x·y と読む。誤りは ParseError。");
}

}  // namespace tavrelo::python
