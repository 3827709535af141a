// The node allocator across threads: blocks freed by other threads, by threads that end, by
// thread-exit destructors and by static destructors after main returns.
#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "core/expr.hpp"
#include "core/node_pool.hpp"

namespace tavrelo {
namespace {

// The pool itself, whatever make_node is built to use.
template <class Node, class... Args>
std::shared_ptr<Node> pooled(Args&&... args) {
    return std::allocate_shared<Node>(PoolAllocator<Node>{}, std::forward<Args>(args)...);
}

// A sum chain of `leaves` integers 0, 1, ...; the integers are also kept in `ints`.
ExprPtr chain(int leaves, std::vector<ExprPtr>& ints) {
    ExprPtr sum = pooled<Int>(0);
    ints.push_back(sum);
    for (int k = 1; k < leaves; ++k) {
        ExprPtr leaf = pooled<Int>(k);
        ints.push_back(leaf);
        sum = pooled<Add>(std::move(sum), std::move(leaf));
    }
    return sum;
}

bool intact(const std::vector<ExprPtr>& ints) {
    for (std::size_t k = 0; k < ints.size(); ++k) {
        if (kind_of(*ints[k]) != ExprKind::Int || as<Int>(*ints[k]).value != static_cast<int>(k)) {
            return false;
        }
    }
    return true;
}

std::size_t shared_blocks() {
    std::size_t total = 0;
    for (std::size_t c = 0; c < detail::kPoolClasses; ++c) {
        total += detail::pool_shared_blocks(c);
    }
    return total;
}

TEST(NodePool, BlocksBuiltInOneThreadAreFreedInAnother) {
    constexpr int kThreads = 4;
    constexpr int kLeaves = 20'000;
    constexpr int kRounds = 25;
    std::size_t reserved_after_warm_up = 0;
    for (int round = 0; round < kRounds; ++round) {
        std::array<std::vector<ExprPtr>, kThreads> ints;
        std::array<ExprPtr, kThreads> trees;
        std::vector<std::thread> builders;
        for (int t = 0; t < kThreads; ++t) {
            builders.emplace_back([&, t] { trees[t] = chain(kLeaves, ints[t]); });
        }
        for (auto& b : builders) {
            b.join();
        }
        std::array<bool, kThreads> ok{};
        std::vector<std::thread> releasers;
        for (int t = 0; t < kThreads; ++t) {
            // Each thread frees what another built.
            releasers.emplace_back([&, t] {
                const int other = (t + 1) % kThreads;
                ok[t] = intact(ints[other]);
                trees[other].reset();
                ints[other].clear();
            });
        }
        for (auto& r : releasers) {
            r.join();
        }
        for (int t = 0; t < kThreads; ++t) {
            EXPECT_TRUE(ok[t]) << "round " << round << " thread " << t;
        }
        if (round == 2) {
            reserved_after_warm_up = detail::pool_reserved_bytes();
        }
    }
    // Blocks go back to the shared pool and are reused: no growth after the first rounds.
    EXPECT_LE(detail::pool_reserved_bytes(), reserved_after_warm_up + (std::size_t{1} << 20));
}

TEST(NodePool, AThreadThatEndsGivesItsBlocksBack) {
    constexpr int kBlocks = 3'000;
    std::thread([] {
        std::vector<ExprPtr> ints;
        for (int k = 0; k < kBlocks; ++k) {
            ints.push_back(pooled<Int>(k));
        }
        ASSERT_TRUE(intact(ints));
    }).join();
    EXPECT_GE(shared_blocks(), std::size_t{kBlocks});
}

// Built before the thread's first node, so destroyed after the thread's lists are given back.
struct ExitHolder {
    std::vector<ExprPtr> nodes;
};
thread_local ExitHolder exit_holder;

TEST(NodePool, NodesFreedAfterTheThreadsListsAreGoneReachTheSharedPool) {
    constexpr int kBlocks = 5'000;
    std::thread([] {
        exit_holder.nodes.reserve(kBlocks);
        for (int k = 0; k < kBlocks; ++k) {
            exit_holder.nodes.push_back(pooled<Int>(k));
        }
    }).join();
    EXPECT_GE(shared_blocks(), std::size_t{kBlocks});
    // The returned blocks are used again rather than new ones carved.
    const std::size_t reserved = detail::pool_reserved_bytes();
    std::vector<ExprPtr> again;
    for (int k = 0; k < kBlocks; ++k) {
        again.push_back(pooled<Int>(k));
    }
    EXPECT_TRUE(intact(again));
    EXPECT_EQ(detail::pool_reserved_bytes(), reserved);
}

// Freed by a static destructor after main returns; a crash there fails the test process.
std::vector<ExprPtr> kept_until_exit;

TEST(NodePool, NodesMayOutliveMain) {
    std::vector<ExprPtr> ints;
    kept_until_exit.push_back(chain(10'000, ints));
    std::thread([] {
        std::vector<ExprPtr> more;
        kept_until_exit.push_back(chain(10'000, more));
    }).join();
    EXPECT_TRUE(intact(ints));
}

TEST(NodePool, LargeObjectsAndArraysUseTheGeneralHeap) {
    struct Big {
        std::array<char, 200> bytes{};
    };
    auto big = std::allocate_shared<Big>(PoolAllocator<Big>{});
    big->bytes.back() = 'x';
    EXPECT_EQ(big->bytes.back(), 'x');
    PoolAllocator<int> ints;
    int* const run = ints.allocate(100);
    run[99] = 7;
    EXPECT_EQ(run[99], 7);
    ints.deallocate(run, 100);
}

}  // namespace
}  // namespace tavrelo
