// Allocation of the nodes the library builds. Expanding and simplifying create and release
// millions of small nodes; each node and its reference counts are served from per-thread free
// lists of fixed-size blocks instead of the general heap. Blocks are reused, never returned to
// the operating system: the pool keeps the high-water mark of the nodes it served.
//
// Nodes built from Python stay on the general heap: free lists hand blocks back in release order,
// scattered over memory, and a tree built node by node from Python then walks memory at random
// (measured: building a million-node tree took up to twice as long).
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <utility>

namespace tavrelo {
namespace detail {

inline constexpr std::size_t kPoolStep = 16;      // block sizes grow in these steps
inline constexpr std::size_t kPoolSmallest = 32;  // a free block holds three words
inline constexpr std::size_t kPoolLargest = 128;  // larger objects go to the general heap
inline constexpr std::size_t kPoolClasses = (kPoolLargest - kPoolSmallest) / kPoolStep + 1;

[[nodiscard]] constexpr std::size_t pool_class_of(std::size_t bytes) noexcept {
    return bytes <= kPoolSmallest ? 0 : (bytes - kPoolSmallest + kPoolStep - 1) / kPoolStep;
}

[[nodiscard]] constexpr std::size_t pool_block_bytes(std::size_t size_class) noexcept {
    return kPoolSmallest + size_class * kPoolStep;
}

// A free block. Only the first block of a batch uses the batch fields.
struct FreeBlock {
    FreeBlock* next;
    FreeBlock* next_batch;
    std::size_t batch_size;
};
static_assert(sizeof(FreeBlock) <= kPoolSmallest);

inline constexpr std::size_t kPoolThreadCap = 1024;  // blocks a thread keeps per class

enum class CacheState : unsigned char { unused, live, retired };

// Per-thread lists. Plain data, so they stay readable while the thread's destructors run; one
// object so that a free reaches its thread's storage once.
struct ThreadLists {
    std::array<FreeBlock*, kPoolClasses> head;
    std::array<std::size_t, kPoolClasses> count;
    CacheState state;
};

// Constant-initialised, so that reaching it from other files needs no initialisation check.
extern thread_local constinit ThreadLists pool_lists;

[[nodiscard]] void* pool_allocate_slow(std::size_t size_class);
void pool_deallocate_slow(void* block, std::size_t size_class) noexcept;

// One block of the class; throws std::bad_alloc when no memory is left. The common case, a
// block from the thread's own list, is inlined into every node construction.
[[nodiscard]] inline void* pool_allocate(std::size_t size_class) {
    ThreadLists& l = pool_lists;
    FreeBlock* const head = l.head[size_class];
    if (head != nullptr) [[likely]] {
        FreeBlock* const next = head->next;
        l.head[size_class] = next;
        --l.count[size_class];
        // Reused blocks come back in release order, scattered over memory: start loading the
        // next one now so that the next node does not wait for it.
        __builtin_prefetch(next, 1);
        return head;
    }
    return pool_allocate_slow(size_class);
}

// Any thread may free any block, also while it exits or after its own lists are gone.
inline void pool_deallocate(void* block, std::size_t size_class) noexcept {
    ThreadLists& l = pool_lists;
    if (l.state == CacheState::live && l.count[size_class] < kPoolThreadCap) [[likely]] {
        auto* const b = static_cast<FreeBlock*>(block);
        b->next = l.head[size_class];
        l.head[size_class] = b;
        ++l.count[size_class];
        return;
    }
    pool_deallocate_slow(block, size_class);
}

// Bytes ever taken from the general heap for blocks (grows only); for tests and diagnostics.
[[nodiscard]] std::size_t pool_reserved_bytes() noexcept;
// Blocks held by the shared pool (not by any thread's lists) in a class.
[[nodiscard]] std::size_t pool_shared_blocks(std::size_t size_class) noexcept;

}  // namespace detail

template <class T>
class PoolAllocator {
public:
    using value_type = T;

    PoolAllocator() noexcept = default;
    template <class U>
    explicit(false) PoolAllocator(const PoolAllocator<U>& /*other*/) noexcept {}

    [[nodiscard]] T* allocate(std::size_t n) {
        if (n == 1 && pooled) {
            return static_cast<T*>(detail::pool_allocate(size_class));
        }
        return std::allocator<T>{}.allocate(n);
    }

    void deallocate(T* p, std::size_t n) noexcept {
        if (n == 1 && pooled) {
            detail::pool_deallocate(p, size_class);
            return;
        }
        std::allocator<T>{}.deallocate(p, n);
    }

    template <class U>
    friend bool operator==(const PoolAllocator& /*a*/, const PoolAllocator<U>& /*b*/) noexcept {
        return true;
    }

private:
    static constexpr bool pooled =
        sizeof(T) <= detail::kPoolLargest && alignof(T) <= detail::kPoolStep;
    static constexpr std::size_t size_class = detail::pool_class_of(sizeof(T));
};

// A new node sharing one block with its reference counts. Sanitizer and fuzzer builds take
// every node from the general heap so that the address checker sees each one.
template <class Node, class... Args>
[[nodiscard]] std::shared_ptr<Node> make_node(Args&&... args) {
#ifdef TAVRELO_PLAIN_NODES
    return std::make_shared<Node>(std::forward<Args>(args)...);
#else
    return std::allocate_shared<Node>(PoolAllocator<Node>{}, std::forward<Args>(args)...);
#endif
}

}  // namespace tavrelo
