// The two ways to run a compiled program.
#pragma once

#include <cstddef>
#include <span>

#include "evaluate/code.hpp"
#include "evaluate/evaluate.hpp"

namespace tavrelo::detail {

// Throws std::invalid_argument at the first part outside the domain.
[[nodiscard]] double run_point(const Code& code, std::span<const double> point);

// Every point of `shape` (the arguments broadcast to it), in blocks, into `out`; NaN where
// undefined.
void run_blocks(const Code& code, std::span<const ArrayArg> args,
                std::span<const std::size_t> shape, double* out);

}  // namespace tavrelo::detail
