// Placeholder until the capability lands.
#include "python/tools/bind.hpp"

namespace tavrelo::python {

void bind_compare(pybind11::module_& /*m*/) {}

}  // namespace tavrelo::python
