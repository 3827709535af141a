// Recursive tree walks stay plain recursive code: when the native stack of the current thread
// runs low, the walk continues on a helper thread with a large fresh stack, so depth is limited
// by memory only. The caller waits for the helper, so the work stays sequential.
// Only the reference expander still uses this; the library's own walks keep their depth on the
// heap (core/rebuild.hpp and the other explicit stacks), which works on stacks of any size.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <utility>

namespace tavrelo {

// True when the current thread's stack has less room left than a deep walk may need.
[[nodiscard]] bool stack_is_low() noexcept;

namespace detail {
// Runs `work` on a new thread with a large stack and waits for it; its exception is rethrown.
void run_on_fresh_stack(const std::function<void()>& work);
}  // namespace detail

// Calls `f()` here, or on a fresh stack when this one is low.
template <class F>
decltype(auto) with_stack_room(F&& f) {
    if (!stack_is_low()) {
        return std::forward<F>(f)();
    }
    using Result = decltype(f());
    std::optional<Result> result;
    detail::run_on_fresh_stack([&] { result.emplace(f()); });
    return Result(std::move(*result));
}

}  // namespace tavrelo
