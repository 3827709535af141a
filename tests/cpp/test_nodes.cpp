// Node model internals that Python cannot reach: kinds, precedences, equality, release.
#include <gtest/gtest.h>

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "core/expr.hpp"

namespace tavrelo {
namespace {

ExprPtr x() { return std::make_shared<Var>("x"); }
ExprPtr y() { return std::make_shared<Var>("y"); }
ExprPtr i(int v) { return std::make_shared<Int>(v); }

struct KindRow {
    ExprPtr node;
    int kind;
    int precedence;
    bool is_number;
};

// The contract's numbers, one row per class; the list of kinds must name the same classes.
std::vector<KindRow> kind_rows() {
    return {
        {i(1), 0, 5, true},
        {x(), 1, 5, false},
        {std::make_shared<Rational>(1, 2), 2, 5, true},
        {std::make_shared<Neg>(x()), 3, 2, false},
        {std::make_shared<Add>(x(), y()), 4, 1, false},
        {std::make_shared<Mul>(x(), y()), 5, 3, false},
        {std::make_shared<Div>(x(), y()), 6, 3, false},
        {std::make_shared<Pow>(x(), y()), 7, 4, false},
        {std::make_shared<Sqrt>(x()), 8, 5, false},
        {std::make_shared<Pi>(), 9, 5, false},
        {std::make_shared<E>(), 10, 5, false},
        {std::make_shared<Cbrt>(x()), 11, 5, false},
        {std::make_shared<Sin>(x()), 12, 5, false},
        {std::make_shared<Cos>(x()), 13, 5, false},
        {std::make_shared<Tan>(x()), 14, 5, false},
        {std::make_shared<Log>(x()), 15, 5, false},
    };
}

TEST(Nodes, KindPrecedenceAndNumberFlag) {
    const auto rows = kind_rows();
    ASSERT_EQ(rows.size(), static_cast<std::size_t>(kind_count));
    for (const auto& row : rows) {
        SCOPED_TRACE(row.node->to_string());
        EXPECT_EQ(row.node->kind(), row.kind);
        EXPECT_EQ(row.node->precedence(), row.precedence);
        EXPECT_EQ(row.node->is_number(), row.is_number);
    }
}

// The order of the virtual operations is part of the node layout: read each slot of every
// class's table and call it (the Itanium ABI puts the two destructor entries first).
TEST(Nodes, VirtualSlotOrder) {
    using StrFn = std::string (*)(const Expr*);
    using IntFn = int (*)(const Expr*);
    using EqFn = bool (*)(const Expr*, const ExprPtr&);
    using BoolFn = bool (*)(const Expr*);
    for (const auto& row : kind_rows()) {
        const Expr* node = row.node.get();
        SCOPED_TRACE(kind_table[static_cast<std::size_t>(row.kind)].name);
        const auto* vtable = *reinterpret_cast<void* const* const*>(node);
        EXPECT_EQ(reinterpret_cast<StrFn>(vtable[2])(node), node->to_string());
        EXPECT_EQ(reinterpret_cast<IntFn>(vtable[3])(node), row.kind);
        EXPECT_EQ(reinterpret_cast<IntFn>(vtable[4])(node), row.precedence);
        EXPECT_TRUE(reinterpret_cast<EqFn>(vtable[5])(node, row.node));
        EXPECT_EQ(reinterpret_cast<BoolFn>(vtable[6])(node), row.is_number);
    }
}

TEST(Nodes, RationalNormalisation) {
    struct Row {
        int num, den, want_num, want_den;
    };
    const Row rows[] = {
        {6, -4, -3, 2},
        {-6, -4, 3, 2},
        {0, 5, 0, 1},
        {0, -5, 0, 1},
        {4, 2, 2, 1},
        {2, 4, 1, 2},
        {-2147483648, -2, 1073741824, 1},
        {-2147483648, 2, -1073741824, 1},
        {2147483647, -1, -2147483647, 1},
        {-2147483648, 1, -2147483648, 1},
        {0, -2147483648, 0, 1},
    };
    for (const auto& r : rows) {
        const Rational q(r.num, r.den);
        EXPECT_EQ(q.num, r.want_num) << r.num << "/" << r.den;
        EXPECT_EQ(q.den, r.want_den) << r.num << "/" << r.den;
    }
}

TEST(Nodes, RationalErrors) {
    struct Row {
        int num, den;
        const char* message;
    };
    const Row rows[] = {
        {7, 0, "エラー: 分母をゼロにすることはできません。"},
        {0, 0, "エラー: 分母をゼロにすることはできません。"},
        {-2147483648, -1, "整数オーバーフローエラー"},
        {1, -2147483648, "整数オーバーフローエラー"},
    };
    for (const auto& r : rows) {
        try {
            (void)Rational(r.num, r.den);
            ADD_FAILURE() << r.num << "/" << r.den << " did not throw";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), r.message);
        }
    }
}

TEST(Nodes, EqualsIsPositionalAndExact) {
    struct Row {
        ExprPtr a, b;
        bool equal;
    };
    const Row rows[] = {
        {std::make_shared<Rational>(2, 4), std::make_shared<Rational>(1, 2), true},
        {i(2), std::make_shared<Rational>(2, 1), false},
        {x(), std::make_shared<Var>("X"), false},
        {std::make_shared<Var>(""), std::make_shared<Var>(""), true},
        {std::make_shared<Add>(x(), y()), std::make_shared<Add>(y(), x()), false},
        {std::make_shared<Add>(x(), y()), std::make_shared<Add>(x(), y()), true},
        {std::make_shared<Mul>(i(2), x()), std::make_shared<Mul>(x(), i(2)), false},
        {std::make_shared<Pi>(), std::make_shared<Pi>(), true},
        {std::make_shared<Pi>(), std::make_shared<E>(), false},
        {std::make_shared<Sqrt>(i(4)), i(2), false},
        {std::make_shared<Sin>(x()), std::make_shared<Cos>(x()), false},
        {std::make_shared<Pow>(x(), i(2)), std::make_shared<Pow>(x(), i(3)), false},
        {std::make_shared<Div>(x(), i(0)), std::make_shared<Div>(x(), i(0)), true},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(r.a->equals(r.b), r.equal) << r.a->to_string() << " vs " << r.b->to_string();
        EXPECT_EQ(r.b->equals(r.a), r.equal) << r.b->to_string() << " vs " << r.a->to_string();
    }
}

TEST(Nodes, EmptyChildIsRefused) {
    EXPECT_THROW(Neg(nullptr), std::invalid_argument);
    EXPECT_THROW(Add(x(), nullptr), std::invalid_argument);
}

constexpr int kDeep = 1'000'000;

ExprPtr neg_chain(int depth) {
    ExprPtr e = x();
    for (int k = 0; k < depth; ++k) {
        e = std::make_shared<Neg>(std::move(e));
    }
    return e;
}

ExprPtr add_chain(int depth, bool nest_left) {
    ExprPtr e = x();
    const ExprPtr one = i(1);
    for (int k = 0; k < depth; ++k) {
        e = nest_left ? std::make_shared<Add>(std::move(e), one)
                      : std::make_shared<Add>(one, std::move(e));
    }
    return e;
}

TEST(DeepTrees, EqualityRenderingAndRelease) {
    for (const bool left : {true, false}) {
        ExprPtr a = add_chain(kDeep, left);
        ExprPtr b = add_chain(kDeep, left);
        EXPECT_TRUE(a->equals(b));
        EXPECT_EQ(a->to_string().size(), b->to_string().size());
        a.reset();
        b.reset();
    }
    ExprPtr a = neg_chain(kDeep);
    const ExprPtr b = neg_chain(kDeep);
    EXPECT_TRUE(a->equals(b));
    EXPECT_FALSE(a->equals(neg_chain(kDeep - 1)));
    EXPECT_EQ(a->to_string(), std::string(kDeep, '-') + "x");
}

// Each thread renders with its own task stack; a shared tree renders the same everywhere, also
// after a deep render grew and dropped that stack.
TEST(DeepTrees, ThreadsRenderASharedTreeAlike) {
    const ExprPtr shallow = std::make_shared<Mul>(std::make_shared<Pi>(), add_chain(50, false));
    const std::string want = shallow->to_string();
    std::vector<std::thread> threads;
    std::vector<int> mismatches(4, 0);
    for (int k = 0; k < 4; ++k) {
        threads.emplace_back([&, k] {
            for (int round = 0; round < 200; ++round) {
                mismatches[k] += shallow->to_string() != want;
            }
            mismatches[k] += neg_chain(100'000)->to_string().size() != 100'001;
            mismatches[k] += shallow->to_string() != want;
        });
    }
    for (auto& t : threads) {
        t.join();
    }
    EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

TEST(DeepTrees, ReleasedOnAnotherThread) {
    ExprPtr chain = neg_chain(kDeep);
    std::thread t([c = std::move(chain)]() mutable { c.reset(); });
    t.join();
}

}  // namespace
}  // namespace tavrelo
