// Placeholder until the capability lands.
#include "python/tools/bind.hpp"

namespace tavrelo::python {

void bind_serial(pybind11::module_& /*m*/) {}

}  // namespace tavrelo::python
