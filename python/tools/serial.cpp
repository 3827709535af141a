// dumps and loads.
#include <string>
#include <string_view>

#include "python/tools/bind.hpp"
#include "serial/serial.hpp"

namespace py = pybind11;

namespace tavrelo::python {
namespace {

py::bytes dump(const ExprPtr& e) {
    std::string data;
    {
        const py::gil_scoped_release unlocked;
        data = dumps(*e);
    }
    return py::bytes(data);
}

// bytes are read in place; other buffers (bytearray, memoryview, ...) may change while the lock
// is released, so they are copied first.
ExprPtr load(const py::buffer& data) {
    if (py::isinstance<py::bytes>(data)) {
        const auto view = static_cast<std::string_view>(py::reinterpret_borrow<py::bytes>(data));
        const py::gil_scoped_release unlocked;
        return loads(view);
    }
    const py::buffer_info info = data.request();
    if (info.ndim != 1 || info.itemsize != 1 || info.strides[0] != 1) {
        throw py::type_error(
            "loads: バイト列（bytes、bytearray、連続した memoryview）を渡してください");
    }
    std::string copy(static_cast<const char*>(info.ptr), static_cast<std::size_t>(info.size));
    const py::gil_scoped_release unlocked;
    return loads(copy);
}

}  // namespace

void bind_serial(py::module_& m) {
    m.def("dumps", &dump, py::arg("expr").none(false),
          "木をバイト列に直列化する（共有された部分木は一度だけ書かれる）");
    m.def("loads", &load, py::arg("data"),
          "dumps が書いたバイト列から木を復元する（不正なデータは ValueError）");
}

}  // namespace tavrelo::python
