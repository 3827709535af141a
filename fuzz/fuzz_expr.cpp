// Turns arbitrary bytes into expression trees (every class, extreme integers, deep chains, wide
// sums, shared subtrees) and runs construction, rendering, equality, simplify and expand on them.
// Any crash, sanitizer report, unknown error or broken invariant aborts.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "core/children.hpp"
#include "core/expr.hpp"
#include "core/latex_size.hpp"
#include "expand/expand.hpp"
#include "simplify/simplify.hpp"

namespace tavrelo {
namespace {

constexpr std::size_t kMaxOps = 48;
// Nodes that all deep chains of one input may add. A chain over a shared deep subtree makes the
// simplifier compare the two at every level, work that grows with the product of their depths.
constexpr int kChainBudget = 4'000;
constexpr int kMaxDoublings = 62;
constexpr std::uint64_t kMaxRenderedText = std::uint64_t{1} << 20;
constexpr std::uint64_t kMaxExpandWork = 200'000;

[[noreturn]] void fail(const char* what, const std::string& detail = {}) {
    std::fprintf(stderr, "invariant broken: %s %s\n", what, detail.c_str());
    std::abort();
}

void expect_known_error(const std::invalid_argument& e) {
    static constexpr std::string_view kKnown[] = {
        "エラー: 分母をゼロにすることはできません。",
        "ゼロ除算エラー",
        "負の数の平方根はサポートされていません。",
        "tan(pi/2) は定義されていません",
        "整数オーバーフローエラー",
    };
    if (std::find(std::begin(kKnown), std::end(kKnown), e.what()) == std::end(kKnown)) {
        fail("unknown error message:", e.what());
    }
}

using Size = std::uint64_t;
Size sat_add(Size a, Size b) { return a > UINT64_MAX - b ? UINT64_MAX : a + b; }
Size sat_mul(Size a, Size b) { return (b != 0 && a > UINT64_MAX / b) ? UINT64_MAX : a * b; }

// Terms that (t terms)^n can have, n capped where every such power's coefficients overflow.
Size power_terms(Size t, std::int64_t n) {
    if (t <= 1 || n <= 0) {
        return n == 0 ? 1 : t;
    }
    n = std::min<std::int64_t>(n, 34);
    Size c = 1;  // C(n + t - 1, n), saturating
    for (std::int64_t k = 1; k <= n; ++k) {
        c = sat_mul(c, t - 1 + static_cast<Size>(k)) / static_cast<Size>(k);
        if (c == UINT64_MAX) {
            break;
        }
    }
    return std::max(c, t);
}

// Builds a tree from bytes and estimates, per node, how many terms its expansion may have, so
// that inputs whose expansion is astronomically large (a legitimate but slow result) are only
// simplified, not expanded.
class Builder {
public:
    explicit Builder(FuzzedDataProvider& in) : in_(in) {}

    ExprPtr build() {
        keep(std::make_shared<Var>("x"));
        for (std::size_t op = 0; op < kMaxOps && in_.remaining_bytes() > 0; ++op) {
            step();
        }
        return pool_.back();
    }

    [[nodiscard]] Size expand_work() const { return work_; }

private:
    int integer() {
        static constexpr int kSpecial[] = {0,
                                           1,
                                           -1,
                                           2,
                                           -2,
                                           3,
                                           4,
                                           12,
                                           27,
                                           -27,
                                           46340,
                                           46341,
                                           65536,
                                           -8,
                                           1 << 30,
                                           std::numeric_limits<int>::max(),
                                           std::numeric_limits<int>::min(),
                                           2147395600};
        if (in_.ConsumeBool()) {
            return kSpecial[in_.ConsumeIntegralInRange<std::size_t>(0, std::size(kSpecial) - 1)];
        }
        return in_.ConsumeIntegral<int>();
    }

    ExprPtr pick() { return pool_[in_.ConsumeIntegralInRange<std::size_t>(0, pool_.size() - 1)]; }

    Size terms(const ExprPtr& e) const { return terms_.at(e.get()); }

    ExprPtr keep(ExprPtr e) {
        Size t = 1;
        Size cost = 1;
        switch (kind_of(*e)) {
        case ExprKind::Neg: t = terms(as<Neg>(*e).operand); break;
        case ExprKind::Add: t = sat_add(terms(as<Add>(*e).left), terms(as<Add>(*e).right)); break;
        case ExprKind::Mul: t = sat_mul(terms(as<Mul>(*e).left), terms(as<Mul>(*e).right)); break;
        case ExprKind::Pow: {
            // An exponent that is not an Int literal may still fold to one.
            const auto& p = as<Pow>(*e);
            const std::int64_t n =
                kind_of(*p.exp) == ExprKind::Int ? as<Int>(*p.exp).value : std::int64_t{34};
            t = power_terms(terms(p.base), n);
            cost = sat_mul(t, t);
            break;
        }
        // A cube root of a cube and a logarithm of a power of e give their argument back.
        case ExprKind::Cbrt: t = terms(as<Cbrt>(*e).operand); break;
        case ExprKind::Log: t = terms(as<Log>(*e).operand); break;
        default: break;
        }
        work_ = sat_add(work_, sat_add(cost, t));
        terms_.emplace(e.get(), t);
        pool_.push_back(e);
        return e;
    }

    ExprPtr unary(int which, ExprPtr a) {
        constexpr auto& kinds = kinds_shaped<KindShape::Unary>;
        return make_with_children(kinds[static_cast<std::size_t>(which) % kinds.size()],
                                  std::move(a));
    }

    ExprPtr binary(int which, ExprPtr a, ExprPtr b) {
        constexpr auto& kinds = kinds_shaped<KindShape::Binary>;
        return make_with_children(kinds[static_cast<std::size_t>(which) % kinds.size()],
                                  std::move(a), std::move(b));
    }

    void step() {
        switch (in_.ConsumeIntegralInRange(0, 11)) {
        case 0: keep(std::make_shared<Int>(integer())); break;
        case 1: keep(std::make_shared<Var>(in_.ConsumeRandomLengthString(8))); break;
        case 2: {
            const int num = integer();
            const int den = integer();
            try {
                keep(std::make_shared<Rational>(num, den));
            } catch (const std::invalid_argument& e) {
                expect_known_error(e);
            }
            break;
        }
        case 3:
            keep(in_.ConsumeBool() ? ExprPtr(std::make_shared<Pi>()) : std::make_shared<E>());
            break;
        case 4:
        case 5: keep(unary(in_.ConsumeIntegral<std::uint8_t>(), pick())); break;
        case 6:
        case 7: {
            const int which = in_.ConsumeIntegral<std::uint8_t>();
            ExprPtr a = pick();
            keep(binary(which, std::move(a), pick()));
            break;
        }
        case 8: {  // a deep chain of one shape over the newest node
            const int which = in_.ConsumeIntegral<std::uint8_t>();
            const int length = in_.ConsumeIntegralInRange(1, std::max(1, chain_budget_));
            chain_budget_ -= length;
            const ExprPtr leaf = pick();
            const bool left = in_.ConsumeBool();
            for (int k = 0; k < length; ++k) {
                const ExprPtr top = pool_.back();
                keep(which % 2
                         ? unary(which / 2, top)
                         : (left ? binary(which / 2, top, leaf) : binary(which / 2, leaf, top)));
            }
            break;
        }
        case 9: {  // shared subtrees: e = op(e, e), standing for 2^n copies
            const int which = in_.ConsumeIntegral<std::uint8_t>();
            const int times = in_.ConsumeIntegralInRange(1, kMaxDoublings);
            for (int k = 0; k < times; ++k) {
                keep(binary(which, pool_.back(), pool_.back()));
            }
            break;
        }
        case 10: {  // a wide sum of distinct leaves
            const int width = in_.ConsumeIntegralInRange(1, 200);
            for (int k = 0; k < width; ++k) {
                const ExprPtr top = pool_.back();
                keep(std::make_shared<Add>(top,
                                           keep(std::make_shared<Var>("v" + std::to_string(k)))));
            }
            break;
        }
        default: keep(std::make_shared<Pow>(pick(), keep(std::make_shared<Int>(integer())))); break;
        }
    }

    FuzzedDataProvider& in_;
    std::vector<ExprPtr> pool_;
    std::unordered_map<const Expr*, Size> terms_;
    Size work_ = 0;
    int chain_budget_ = kChainBudget;
};

// Renders when the text is small; a text beyond memory must be refused, not attempted.
void check_rendering(const ExprPtr& e) {
    const Size bound = latex_size_bound(*e, latex_text_limit());
    if (bound > latex_text_limit()) {
        try {
            (void)e->to_string();
        } catch (const std::bad_alloc&) {
            return;
        }
        fail("a text beyond memory was not refused");
    }
    if (bound <= kMaxRenderedText) {
        const std::string text = e->to_string();
        if (text.size() > bound) {
            fail("size bound below the text:", text);
        }
    }
}

bool small_text(const ExprPtr& e) {
    return latex_size_bound(*e, kMaxRenderedText) <= kMaxRenderedText;
}

void run(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider first(data, size);
    Builder builder(first);
    const ExprPtr tree = builder.build();
    FuzzedDataProvider second(data, size);
    const ExprPtr again = Builder(second).build();

    check_rendering(tree);
    if (!tree->equals(tree) || !tree->equals(again) || !again->equals(tree)) {
        fail("a tree differs from itself or from its rebuild");
    }
    if (small_text(tree) && tree->to_string() != again->to_string()) {
        fail("a rebuilt tree renders differently");
    }

    std::string simplify_error;
    try {
        const ExprPtr s = simplify(tree);
        if (!s) {
            fail("simplify returned nothing");
        }
        check_rendering(s);
        if (!simplify(s)->equals(s)) {
            fail("simplify is not idempotent on", small_text(s) ? s->to_string() : "a large tree");
        }
    } catch (const std::invalid_argument& e) {
        expect_known_error(e);
        simplify_error = e.what();
    }

    if (builder.expand_work() > kMaxExpandWork || !small_text(tree)) {
        return;
    }
    try {
        const ExprPtr x = expand(tree);
        if (!x) {
            fail("expand returned nothing");
        }
        if (!simplify_error.empty()) {
            fail("expand succeeded where simplify failed with", simplify_error);
        }
        check_rendering(x);
    } catch (const std::invalid_argument& e) {
        expect_known_error(e);
        // The expander simplifies first: a domain error of simplify is its error too.
        if (!simplify_error.empty() && simplify_error != e.what()) {
            fail("expand and simplify disagree:", simplify_error + " / " + e.what());
        }
        if (simplify_error.empty() && std::string_view(e.what()) != "整数オーバーフローエラー") {
            fail("expand raised a domain error that simplify did not:", e.what());
        }
    }
}

}  // namespace
}  // namespace tavrelo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    tavrelo::run(data, size);
    return 0;
}
