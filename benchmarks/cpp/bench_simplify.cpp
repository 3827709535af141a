// Cost of simplify per node on a generated tree of about N nodes, against a plain rebuild of the
// same tree (every non-leaf node made anew: the least work any simplifier must do).
//
//   bench_simplify --nodes N --shared 0|1 --rounds R
//
// prints one JSON line on stdout, {"nodes": N, "shared": S, "simplify_s": ..., "rebuild_s": ...}
// (median seconds over R rounds), and the cost per node and the ratio on stderr.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/children.hpp"
#include "core/expr.hpp"
#include "core/rebuild.hpp"
#include "simplify/rules.hpp"
#include "simplify/simplify.hpp"

namespace {

using tavrelo::as;
using tavrelo::ExprKind;
using tavrelo::ExprPtr;

struct Options {
    long nodes = 1'000'000;
    bool shared = false;
    int rounds = 5;
};

Options parse(int argc, char** argv) {
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        const long value = std::strtol(argv[i + 1], nullptr, 10);
        if (key == "--nodes") {
            o.nodes = std::max(1L, value);
        } else if (key == "--shared") {
            o.shared = value != 0;
        } else if (key == "--rounds") {
            o.rounds = static_cast<int>(std::max(1L, value));
        } else {
            throw std::invalid_argument("unknown option " + key);
        }
    }
    return o;
}

// A subtree under construction together with its simplified form, so that the generator can
// refuse a combination that would raise (zero divisor, negative root, overflow, tan(pi/2)).
struct Item {
    ExprPtr raw;
    ExprPtr simple;
};

template <class Node, class... Args>
ExprPtr make(Args&&... args) {
    return std::make_shared<Node>(std::forward<Args>(args)...);
}

class Generator {
public:
    Generator(bool shared, unsigned seed) : shared_(shared), rng_(seed) {}

    // Exactly `total` distinct nodes (leaves included).
    ExprPtr tree(long total) {
        long made = 0;
        pool_.clear();
        const auto projected = [&] { return made + static_cast<long>(pool_.size()) - 1; };
        while (pool_.empty() || projected() < total) {
            const long left = total - projected();
            const int dice = pick(100);
            if (pool_.size() < 2 || (left >= 2 && dice < 42)) {
                pool_.push_back(leaf());
                ++made;
            } else if (dice < 58 || left == 1) {
                made += unary() ? 1 : 0;
            } else {
                made += binary() ? 1 : 0;
            }
        }
        // Join what is left into one tree; a power over a variable never raises.
        Item root = take();
        while (!pool_.empty()) {
            Item next = take();
            root = combine_or(
                make<tavrelo::Add>(root.raw, next.raw),
                [&] { return tavrelo::detail::add_rules(root.simple, next.simple); },
                [&] { return power_of_var(root); });
        }
        expected_ = root.simple;
        return root.raw;
    }

    // Simplified form computed while generating: the benchmark checks simplify against it.
    [[nodiscard]] const ExprPtr& expected() const { return expected_; }

private:
    int pick(int n) { return std::uniform_int_distribution<int>(0, n - 1)(rng_); }

    Item leaf() {
        ExprPtr e;
        switch (pick(10)) {
        case 0: e = make<tavrelo::Rational>(pick(7) - 3, pick(4) + 1); break;
        case 1: e = make<tavrelo::Pi>(); break;
        case 2: e = make<tavrelo::E>(); break;
        case 3:
        case 4:
        case 5: e = make<tavrelo::Var>(std::string(1, static_cast<char>('x' + pick(3)))); break;
        default: e = make<tavrelo::Int>(pick(13) - 3); break;
        }
        return {e, e};
    }

    // An operand from the pool; in a DAG it is sometimes left there to be used again.
    Item take() {
        const auto i = static_cast<std::size_t>(pick(static_cast<int>(pool_.size())));
        Item it = pool_[i];
        if (!shared_ || pick(10) != 0) {
            pool_[i] = std::move(pool_.back());
            pool_.pop_back();
        }
        return it;
    }

    template <class Rules, class Fallback>
    Item combine_or(ExprPtr raw, Rules rules, Fallback fallback) {
        try {
            return {std::move(raw), rules()};
        } catch (const std::invalid_argument&) {
            return fallback();
        }
    }

    Item power_of_var(const Item& base) {
        const ExprPtr x = make<tavrelo::Var>("x");
        return {make<tavrelo::Pow>(base.raw, x), tavrelo::detail::pow_rules(base.simple, x)};
    }

    bool push_or_restore(ExprPtr raw, const std::vector<Item>& operands, auto rules) {
        try {
            pool_.push_back({std::move(raw), rules()});
            return true;
        } catch (const std::invalid_argument&) {
            // This combination would raise: put the operands back and make nothing.
            for (const auto& op : operands) {
                if (std::none_of(pool_.begin(), pool_.end(),
                                 [&](const Item& p) { return p.raw == op.raw; })) {
                    pool_.push_back(op);
                }
            }
            return false;
        }
    }

    bool unary() {
        using namespace tavrelo;
        const Item a = take();
        const ExprPtr& s = a.simple;
        switch (pick(8)) {
        case 0: return push_or_restore(make<Neg>(a.raw), {a}, [&] { return detail::neg_rules(s); });
        case 1:
            return push_or_restore(make<Sqrt>(a.raw), {a}, [&] { return detail::sqrt_rules(s); });
        case 2:
            return push_or_restore(make<Cbrt>(a.raw), {a}, [&] { return detail::cbrt_rules(s); });
        case 3:
            return push_or_restore(make<Sin>(a.raw), {a},
                                   [&] { return detail::trig_rules(ExprKind::Sin, s); });
        case 4:
            return push_or_restore(make<Cos>(a.raw), {a},
                                   [&] { return detail::trig_rules(ExprKind::Cos, s); });
        case 5:
            return push_or_restore(make<Tan>(a.raw), {a},
                                   [&] { return detail::trig_rules(ExprKind::Tan, s); });
        case 6: return push_or_restore(make<Log>(a.raw), {a}, [&] { return detail::log_rules(s); });
        default:
            return push_or_restore(make<Neg>(a.raw), {a}, [&] { return detail::neg_rules(s); });
        }
    }

    bool binary() {
        using namespace tavrelo;
        const Item a = take();
        const Item b = take();
        const ExprPtr& l = a.simple;
        const ExprPtr& r = b.simple;
        const int dice = pick(10);
        if (dice < 4) {
            return push_or_restore(make<Add>(a.raw, b.raw), {a, b},
                                   [&] { return detail::add_rules(l, r); });
        }
        if (dice < 7) {
            return push_or_restore(make<Mul>(a.raw, b.raw), {a, b},
                                   [&] { return detail::mul_rules(l, r); });
        }
        if (dice < 9) {
            return push_or_restore(make<Div>(a.raw, b.raw), {a, b},
                                   [&] { return detail::div_rules(l, r); });
        }
        return push_or_restore(make<Pow>(a.raw, b.raw), {a, b},
                               [&] { return detail::pow_rules(l, r); });
    }

    bool shared_;
    std::mt19937 rng_;
    std::vector<Item> pool_;
    ExprPtr expected_;
};

// The baseline: the same walk as simplify (shared subtrees copied once), no rules.
ExprPtr rebuild(const ExprPtr& tree) {
    return tavrelo::rebuild_bottom_up(tree, tavrelo::make_with_children);
}

template <class F>
double median_seconds(int rounds, F run) {
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        ExprPtr result;
        const auto start = std::chrono::steady_clock::now();
        result = run();
        const auto stop = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double>(stop - start).count());
        result.reset();  // freeing the result is not part of either measurement
    }
    std::sort(times.begin(), times.end());
    const auto n = times.size();
    return n % 2 == 1 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        const Options o = parse(argc, argv);
        Generator gen(o.shared, 20261208U);
        const ExprPtr tree = gen.tree(o.nodes);
        if (!tavrelo::structurally_equal(*tavrelo::simplify(tree), *gen.expected())) {
            std::fprintf(stderr, "simplify disagrees with the generator's expected result\n");
            return 1;
        }
        const double simplify_s = median_seconds(o.rounds, [&] { return tavrelo::simplify(tree); });
        const double rebuild_s = median_seconds(o.rounds, [&] { return rebuild(tree); });
        std::printf("{\"nodes\": %ld, \"shared\": %d, \"simplify_s\": %.6f, \"rebuild_s\": %.6f}\n",
                    o.nodes, o.shared ? 1 : 0, simplify_s, rebuild_s);
        const double n = static_cast<double>(o.nodes);
        std::fprintf(stderr, "simplify %.1f ns/node, rebuild %.1f ns/node, ratio %.2f\n",
                     simplify_s / n * 1e9, rebuild_s / n * 1e9, simplify_s / rebuild_s);
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_simplify: %s\n", e.what());
        return 2;
    }
}
