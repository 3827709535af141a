// Reading one argument block by block in the row-major order of the broadcast shape.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "evaluate/evaluate.hpp"

namespace tavrelo::detail {

class Cursor {
public:
    // `arg` must broadcast to `shape`.
    Cursor(const ArrayArg& arg, std::span<const std::size_t> shape);

    // The next `count` values: a pointer into the argument when they lie there in order, else
    // `buffer` (room for `count` values) filled with them.
    const double* next(std::size_t count, double* buffer);

private:
    void gather(std::size_t count, double* buffer);

    enum class Layout { in_order, constant, strided };

    const double* data_;
    Layout layout_;
    std::vector<std::size_t> shape_;
    std::vector<std::ptrdiff_t> strides_;  // per dimension of the broadcast shape, 0 if repeated
    std::vector<std::size_t> index_;       // of the next value, for the strided layout
    std::ptrdiff_t offset_ = 0;            // of the next value
    bool filled_ = false;                  // the constant layout has filled its buffer
};

}  // namespace tavrelo::detail
