#include "evaluate/cursor.hpp"

#include <algorithm>

namespace tavrelo::detail {

Cursor::Cursor(const ArrayArg& arg, std::span<const std::size_t> shape)
    : data_(arg.data), layout_(Layout::constant), shape_(shape.begin(), shape.end()),
      strides_(shape.size(), 0), index_(shape.size(), 0) {
    const std::size_t skip = shape.size() - arg.shape.size();
    for (std::size_t d = 0; d < arg.shape.size(); ++d) {
        if (arg.shape[d] != 1) {
            strides_[skip + d] = arg.strides[d];
        }
    }
    // In order when each dimension that moves steps by the size of the ones after it.
    bool in_order = true;
    bool moves = false;
    std::ptrdiff_t step = 1;
    for (std::size_t d = shape_.size(); d-- > 0;) {
        if (shape_[d] != 1) {
            in_order = in_order && strides_[d] == step;
            moves = moves || strides_[d] != 0;
        }
        step *= static_cast<std::ptrdiff_t>(shape_[d]);
    }
    if (moves) {
        layout_ = in_order ? Layout::in_order : Layout::strided;
    }
}

const double* Cursor::next(std::size_t count, double* buffer) {
    switch (layout_) {
    case Layout::in_order: {
        const double* here = data_ + offset_;
        offset_ += static_cast<std::ptrdiff_t>(count);
        return here;
    }
    case Layout::constant:
        if (!filled_) {  // the caller passes the same buffer, with the same room, every time
            std::fill_n(buffer, count, *data_);
            filled_ = true;
        }
        return buffer;
    case Layout::strided: gather(count, buffer); return buffer;
    }
    return buffer;
}

void Cursor::gather(std::size_t count, double* buffer) {
    const std::size_t last = shape_.size() - 1;
    const std::ptrdiff_t stride = strides_[last];
    while (count > 0) {
        // A run along the last dimension, then a carry into the ones before it.
        const std::size_t run = std::min(count, shape_[last] - index_[last]);
        const double* p = data_ + offset_;
        for (std::size_t j = 0; j < run; ++j) {
            buffer[j] = p[static_cast<std::ptrdiff_t>(j) * stride];
        }
        buffer += run;
        count -= run;
        offset_ += static_cast<std::ptrdiff_t>(run) * stride;
        index_[last] += run;
        for (std::size_t d = last; d > 0 && index_[d] == shape_[d]; --d) {
            offset_ -= static_cast<std::ptrdiff_t>(shape_[d]) * strides_[d];
            index_[d] = 0;
            ++index_[d - 1];
            offset_ += strides_[d - 1];
        }
    }
}

}  // namespace tavrelo::detail
