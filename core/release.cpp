#include "release.hpp"

#include <utility>
#include <vector>

namespace tavrelo::detail {
namespace {

struct ReleaseQueue {
    std::vector<ExprPtr> pending;
    bool draining = false;
};

thread_local ReleaseQueue queue;

}  // namespace

void release_child(const ExprPtr& child) noexcept {
    // Called only from node destructors: an object's constness ends when its destructor starts,
    // so taking the handle out of the dying node is well defined.
    auto& handle = const_cast<ExprPtr&>(child);
    if (!handle) {
        return;
    }
    // A handle that is not the last one cannot free anything here.
    if (handle.use_count() != 1) {
        handle.reset();
        return;
    }
    ReleaseQueue& q = queue;
    if (q.draining) {
        try {
            q.pending.push_back(std::move(handle));
            return;
        } catch (...) {
            // Out of memory for the queue: free it in place (one level of recursion).
            handle.reset();
            return;
        }
    }
    q.draining = true;
    handle.reset();
    while (!q.pending.empty()) {
        ExprPtr next = std::move(q.pending.back());
        q.pending.pop_back();
        next.reset();
    }
    q.draining = false;
}

}  // namespace tavrelo::detail
