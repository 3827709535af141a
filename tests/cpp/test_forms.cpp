// The promises of each form of an expanded value, as check_invariants states them: values the
// engine makes keep them (debug and sanitizer builds check every one), and a broken value of
// each kind is caught.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "expand/forms.hpp"
#include "expand/operations.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;
using namespace fast;

struct Fixture {
    Workspace ws;
    Power x;  // a plain variable
    Power y;
    Power s;  // a sum, which decomposition keeps whole
    Power m;  // a product, which decomposition takes apart

    Fixture() {
        const auto power = [&](const ExprPtr& node, int exp) {
            const std::uint32_t h = ws.bases.handle_of(node);
            return Power{h, ws.bases.id(h), exp};
        };
        x = power(v("x"), 1);
        y = power(v("y"), 1);
        s = power(add(v("x"), i(1)), 1);
        m = power(mul(v("a"), v("b")), 1);
    }
    static Power with(Power p, int exp) {
        p.exp = exp;
        return p;
    }
    Poly collected(std::vector<Summand> entries, bool rare = false) {
        Collected c;
        c.entries = std::move(entries);
        c.sorted = false;
        c.rare = rare;
        return Poly{std::move(c), nullptr};
    }
    Poly packed(const std::vector<std::vector<int>>& exps, std::vector<int> most = {3, 3}) {
        PackedValue v;
        v.handles = {x.handle, y.handle};
        v.ids = {x.id, y.id};
        v.most = std::move(most);
        v.bits = 2;
        v.words = 1;
        for (const auto& e : exps) {
            v.keys.push_back(static_cast<std::uint64_t>(e[0]) | static_cast<std::uint64_t>(e[1])
                                                                    << 2);
            v.coefs.push_back(1);
        }
        return Poly{Packed{std::move(v)}, nullptr};
    }
    Poly chain(Powers powers, std::size_t dead, std::size_t live, std::size_t odd, bool rare) {
        Chain c;
        for (std::size_t k = 0; k < powers.size(); ++k) {
            c.index[powers[k].id] = static_cast<std::uint32_t>(k);
        }
        c.entry = Summand{2, kNoKey, std::move(powers)};
        c.dead = dead;
        c.live = live;
        c.odd = odd;
        c.rare = rare;
        return Poly{std::move(c), nullptr};
    }
};

TEST(Forms, BrokenPromisesAreCaught) {
    Fixture f;
    const Power& x = f.x;
    const Power& y = f.y;
    const Power dead_y = Fixture::with(y, 0);
    Poly unindexed = f.chain({x, dead_y}, 1, 1, 0, false);
    std::get<Chain>(unindexed.form).index.erase(y.id);
    struct Row {
        const char* what;
        Poly value;
        bool holds;
    };
    const Row rows[] = {
        {"collected", f.collected({{2, kNoKey, {x}}, {-1, kNoKey, {y}}}), true},
        {"coefficient 0", f.collected({{0, kNoKey, {x}}}), false},
        {"exponent 0", f.collected({{1, kNoKey, {Fixture::with(x, 0)}}}), false},
        {"base twice", f.collected({{1, kNoKey, {x, x}}}), false},
        {"lone sum unmarked", f.collected({{1, kNoKey, {f.s}}}), false},
        {"lone sum marked", f.collected({{1, kNoKey, {f.s}}}, true), true},
        {"product factor unmarked", f.collected({{3, kNoKey, {f.m}}}), false},
        {"packed", f.packed({{1, 0}, {0, 2}}), true},
        {"packed alone", f.packed({{1, 0}}), false},
        {"packed twice", f.packed({{1, 2}, {1, 2}}), false},
        {"packed above most", f.packed({{1, 0}, {3, 1}}, {2, 3}), false},
        {"chain", f.chain({x, dead_y}, 1, 1, 0, false), true},
        {"chain dead miscounted", f.chain({x, dead_y}, 0, 2, 0, false), false},
        {"chain index without a dead base", unindexed, false},
        {"chain odd miscounted", f.chain({x, f.m}, 0, 2, 0, false), false},
        {"chain rare unmarked", f.chain({x, f.m}, 0, 2, 1, false), false},
        {"raw", Poly{Raw{{{1, kNoKey, {x}}}}, v("z")}, true},
        {"raw of another tree", Poly{Raw{{{1, kNoKey, {x}}}}, add(v("z"), i(1))}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (row.holds) {
            EXPECT_NO_THROW(check_invariants(row.value, f.ws.bases));
        } else {
            EXPECT_THROW(check_invariants(row.value, f.ws.bases), std::logic_error);
        }
    }
}

}  // namespace
}  // namespace tavrelo
