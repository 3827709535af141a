#include "node_pool.hpp"

#include <pthread.h>
#include <sys/mman.h>

#include <array>
#include <atomic>
#include <mutex>

namespace tavrelo::detail {

thread_local constinit ThreadLists pool_lists{};

namespace {

constexpr std::size_t kBatch = 256;  // blocks moved between a thread and the pool
static_assert(kPoolThreadCap >= 2 * kBatch);

std::atomic<std::size_t> reserved_bytes{0};

// Blocks are cut from arenas of 2 MiB, each on a 2 MiB boundary, which the system may back
// with one large page: a result of a million nodes then spans a few pages instead of thousands,
// and walking it misses the address translation cache far less often.
constexpr std::size_t kArenaBytes = std::size_t{2} << 20;
struct alignas(kArenaBytes) Arena {
    std::byte bytes[kArenaBytes];
};

class ArenaCutter {
public:
    constexpr ArenaCutter() = default;

    // `bytes` (a multiple of 64, at most an arena) of fresh memory on a 64-byte boundary.
    std::byte* cut(std::size_t bytes) {
        const std::lock_guard guard(lock_);
        if (left_ < bytes) {
            next_ = std::allocator<Arena>{}.allocate(1)->bytes;
#ifdef MADV_HUGEPAGE
            // Only advice: without large pages the arena works the same.
            static_cast<void>(madvise(next_, kArenaBytes, MADV_HUGEPAGE));
#endif
            left_ = kArenaBytes;
            reserved_bytes.fetch_add(kArenaBytes, std::memory_order_relaxed);
        }
        std::byte* const out = next_;
        next_ += bytes;
        left_ -= bytes;
        return out;
    }

    void lock_for_fork() { lock_.lock(); }
    void unlock_after_fork() { lock_.unlock(); }

private:
    std::mutex lock_;
    std::byte* next_ = nullptr;
    std::size_t left_ = 0;
};

union NeverDestroyedCutter {
    ArenaCutter cutter;
    constexpr NeverDestroyedCutter() : cutter() {}
    ~NeverDestroyedCutter() {}  // NOLINT: deliberately leaves the arenas alive
};
constinit NeverDestroyedCutter cutter_storage;

// A fresh run of `count` blocks of the class, linked in address order.
FreeBlock* carve(std::size_t size_class, std::size_t count) {
    const std::size_t block = pool_block_bytes(size_class);
    const std::size_t bytes = (block * count + 63) / 64 * 64;
    std::byte* const slab = cutter_storage.cutter.cut(bytes);
    for (std::size_t i = 0; i < count; ++i) {
        auto* const b = reinterpret_cast<FreeBlock*>(slab + i * block);
        b->next = (i + 1 < count) ? reinterpret_cast<FreeBlock*>(slab + (i + 1) * block) : nullptr;
    }
    return reinterpret_cast<FreeBlock*>(slab);
}

// Blocks no thread holds: whole batches from threads, plus loose blocks freed one at a time by
// threads whose own lists are gone.
class SharedPool {
public:
    constexpr SharedPool() = default;

    // A chain of blocks for a thread's lists, or null when the pool has none.
    FreeBlock* take(std::size_t c, std::size_t& count) {
        const std::lock_guard guard(lock_);
        Lists& l = lists_[c];
        if (l.batches != nullptr) {
            FreeBlock* const chain = l.batches;
            l.batches = chain->next_batch;
            count = chain->batch_size;
            l.held -= count;
            return chain;
        }
        if (l.loose != nullptr) {
            FreeBlock* const chain = l.loose;
            count = l.loose_count;
            l.held -= count;
            l.loose = nullptr;
            l.loose_count = 0;
            return chain;
        }
        return nullptr;
    }

    // Takes back a null-terminated chain of `count` blocks.
    void give(std::size_t c, FreeBlock* chain, std::size_t count) noexcept {
        const std::lock_guard guard(lock_);
        Lists& l = lists_[c];
        chain->batch_size = count;
        chain->next_batch = l.batches;
        l.batches = chain;
        l.held += count;
    }

    void* take_one(std::size_t c) {
        const std::lock_guard guard(lock_);
        Lists& l = lists_[c];
        if (l.loose == nullptr) {
            if (l.batches != nullptr) {
                l.loose = l.batches;
                l.loose_count = l.batches->batch_size;
                l.batches = l.batches->next_batch;
            } else {
                l.loose = carve(c, kBatch);
                l.loose_count = kBatch;
                l.held += kBatch;
            }
        }
        FreeBlock* const b = l.loose;
        l.loose = b->next;
        --l.loose_count;
        --l.held;
        return b;
    }

    void give_one(std::size_t c, FreeBlock* b) noexcept {
        const std::lock_guard guard(lock_);
        Lists& l = lists_[c];
        b->next = l.loose;
        l.loose = b;
        ++l.held;
        if (++l.loose_count == kBatch) {
            b->batch_size = kBatch;
            b->next_batch = l.batches;
            l.batches = b;
            l.loose = nullptr;
            l.loose_count = 0;
        }
    }

    // Held across fork(): a child forked while another thread held the lock would wait for it
    // for ever.
    void lock_for_fork() { lock_.lock(); }
    void unlock_after_fork() { lock_.unlock(); }

    std::size_t held(std::size_t c) noexcept {
        const std::lock_guard guard(lock_);
        return lists_[c].held;
    }

private:
    struct Lists {
        FreeBlock* batches = nullptr;
        FreeBlock* loose = nullptr;
        std::size_t loose_count = 0;
        std::size_t held = 0;
    };
    std::mutex lock_;
    std::array<Lists, kPoolClasses> lists_{};
};

// The shared pool is never destroyed: nodes may be freed by static destructors or during
// interpreter shutdown, after any destruction order could have ended it.
union NeverDestroyed {
    SharedPool pool;
    constexpr NeverDestroyed() : pool() {}
    ~NeverDestroyed() {}  // NOLINT: deliberately leaves the pool alive
};
constinit NeverDestroyed shared_storage;

SharedPool& shared() noexcept { return shared_storage.pool; }

// The pool's lock is taken before the cutter's everywhere (the pool carves under its lock).
[[maybe_unused]] const int fork_handlers = pthread_atfork(
    [] {
        shared().lock_for_fork();
        cutter_storage.cutter.lock_for_fork();
    },
    [] {
        cutter_storage.cutter.unlock_after_fork();
        shared().unlock_after_fork();
    },
    [] {
        cutter_storage.cutter.unlock_after_fork();
        shared().unlock_after_fork();
    });

// Hands the thread's lists to the shared pool when the thread ends; later frees on this thread
// go to the shared pool directly.
struct ListsReturn {
    ListsReturn() = default;
    ListsReturn(const ListsReturn&) = delete;
    ListsReturn& operator=(const ListsReturn&) = delete;
    ~ListsReturn() {
        pool_lists.state = CacheState::retired;
        for (std::size_t c = 0; c < kPoolClasses; ++c) {
            if (pool_lists.head[c] != nullptr) {
                shared().give(c, pool_lists.head[c], pool_lists.count[c]);
                pool_lists.head[c] = nullptr;
                pool_lists.count[c] = 0;
            }
        }
    }
};
thread_local ListsReturn lists_return;

// True when the calling thread may use its own lists.
bool enter_lists() noexcept {
    if (pool_lists.state == CacheState::live) {
        return true;
    }
    if (pool_lists.state == CacheState::retired) {
        return false;
    }
    // First use on this thread: reaching the object arranges its destructor at thread exit.
    [[maybe_unused]] const ListsReturn* const registered = &lists_return;
    pool_lists.state = CacheState::live;
    return true;
}

// Gives the thread's whole list of the class back to the shared pool as one batch: splitting it
// would mean walking it.
void trim(std::size_t c) noexcept {
    shared().give(c, pool_lists.head[c], pool_lists.count[c]);
    pool_lists.head[c] = nullptr;
    pool_lists.count[c] = 0;
}

}  // namespace

void* pool_allocate_slow(std::size_t size_class) {
    if (!enter_lists()) {
        return shared().take_one(size_class);
    }
    std::size_t count = 0;
    FreeBlock* chain = shared().take(size_class, count);
    if (chain == nullptr) {
        count = kBatch;
        chain = carve(size_class, count);
    }
    pool_lists.head[size_class] = chain->next;
    pool_lists.count[size_class] = count - 1;
    return chain;
}

void pool_deallocate_slow(void* block, std::size_t size_class) noexcept {
    auto* const b = static_cast<FreeBlock*>(block);
    if (pool_lists.state != CacheState::live && !enter_lists()) {
        shared().give_one(size_class, b);
        return;
    }
    b->next = pool_lists.head[size_class];
    pool_lists.head[size_class] = b;
    if (++pool_lists.count[size_class] > kPoolThreadCap) {
        trim(size_class);
    }
}

std::size_t pool_reserved_bytes() noexcept {
    return reserved_bytes.load(std::memory_order_relaxed);
}

std::size_t pool_shared_blocks(std::size_t size_class) noexcept {
    return shared().held(size_class);
}

}  // namespace tavrelo::detail
