// Compressed texts against plain strings: random texts built from shared pieces (so that long
// common prefixes are the rule), and the modular arithmetic under the hashes.
#include <gtest/gtest.h>

#include <new>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "core/long_text.hpp"

namespace tavrelo {
namespace {

const Wide kPrime = (Wide{1} << 127) - 1;

Wide slow_mul_mod(Wide a, Wide b) {  // double and add: obviously right, slow
    Wide r = 0;
    for (int bit = 126; bit >= 0; --bit) {
        r = add_mod(r, r);
        if (((b >> bit) & 1) != 0) {
            r = add_mod(r, a);
        }
    }
    return r;
}

int sign(int c) { return (c > 0) - (c < 0); }

TEST(LongText, ModularProduct) {
    std::mt19937_64 rng(3);
    std::vector<Wide> values = {0, 1, 2, kPrime - 1, kPrime - 2, Wide{1} << 64, (Wide{1} << 126)};
    for (int k = 0; k < 200; ++k) {
        values.push_back(((Wide{rng()} << 64) | rng()) % kPrime);
    }
    for (const Wide a : values) {
        for (std::size_t k = 0; k < 20; ++k) {
            const Wide b = values[(k * 37 + static_cast<std::size_t>(a % 101)) % values.size()];
            ASSERT_TRUE(mul_mod(a, b) == slow_mul_mod(a, b));
        }
    }
}

// A pool of texts, each kept both as a string and as a rope made from earlier ones.
struct Pool {
    std::vector<std::string> plain;
    std::vector<RopePtr> ropes;
    std::mt19937 rng;

    explicit Pool(unsigned seed) : rng(seed) {
        for (const char* s : {"", "a", "\\", "1", "b", "\\left(", "x + 1", "\\pi", "2"}) {
            add(s, Rope::literal(s));
        }
        add(std::string(700, 'q'), Rope::literal(std::string(700, 'q')));
    }
    std::size_t pick(std::size_t n) {
        return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng);
    }
    void add(std::string s, RopePtr r) {
        plain.push_back(std::move(s));
        ropes.push_back(std::move(r));
    }
    // A join of a few earlier texts; long texts are preferred so that prefixes grow.
    void grow() {
        std::string s;
        std::vector<RopePtr> parts;
        const std::size_t count = 1 + pick(4);
        for (std::size_t k = 0; k < count; ++k) {
            std::size_t i = pick(plain.size());
            if (pick(2) == 0) {
                i = plain.size() - 1 - pick(std::min<std::size_t>(plain.size(), 3));
            }
            if (plain[i].size() + s.size() > (1u << 13)) {
                i = pick(9);
            }
            s += plain[i];
            parts.push_back(ropes[i]);
        }
        add(std::move(s), Rope::join(std::move(parts)));
    }
};

TEST(LongText, RopesAgreeWithStrings) {
    for (unsigned seed = 1; seed <= 20; ++seed) {
        Pool pool(seed);
        for (int k = 0; k < 150; ++k) {
            pool.grow();
        }
        for (std::size_t i = 0; i < pool.plain.size(); ++i) {
            const std::string& s = pool.plain[i];
            const Rope& r = *pool.ropes[i];
            ASSERT_EQ(static_cast<std::size_t>(r.size()), s.size());
            std::string copied;
            r.copy(0, s.size(), copied);
            ASSERT_EQ(copied, s);
            const Summary want = summary_of(s);
            const Summary& got = r.summary();
            ASSERT_TRUE(got.hash == want.hash && got.power == want.power);
            ASSERT_EQ(got.first, want.first);
            ASSERT_EQ(got.last, want.last);
            ASSERT_EQ(got.all_letters, want.all_letters);
            ASSERT_EQ(got.backslash_before_run, want.backslash_before_run);
            const RopePtr shallow = Rope::balanced(pool.ropes[i], Wide{1} << 20);
            std::string again;
            shallow->copy(0, s.size(), again);
            ASSERT_EQ(again, s);
            ASSERT_EQ(Rope::compare(*shallow, r), 0);
            ASSERT_TRUE(shallow->prefix_hash(s.size() / 2) == r.prefix_hash(s.size() / 2));
            for (int probe = 0; probe < 4 && !s.empty(); ++probe) {
                const std::size_t at = pool.pick(s.size());
                ASSERT_EQ(r.at(at), static_cast<unsigned char>(s[at]));
                ASSERT_TRUE(r.prefix_hash(at) == summary_of(s.substr(0, at)).hash);
                const std::size_t n = pool.pick(600);
                std::string part;
                r.copy(at, n, part);
                ASSERT_EQ(part, s.substr(at, n));
            }
        }
    }
}

TEST(LongText, OrderAndEqualityAgreeWithStrings) {
    for (unsigned seed = 1; seed <= 10; ++seed) {
        Pool pool(seed);
        for (int k = 0; k < 120; ++k) {
            pool.grow();
        }
        const std::size_t n = pool.plain.size();
        for (int k = 0; k < 1000; ++k) {
            const std::size_t i = pool.pick(n);
            // Neighbours share the longest prefixes.
            const std::size_t j =
                pool.pick(2) == 0 ? pool.pick(n) : std::min(n - 1, i + pool.pick(3));
            const std::string& a = pool.plain[i];
            const std::string& b = pool.plain[j];
            const int want = sign(a.compare(b));
            ASSERT_EQ(sign(Rope::compare(*pool.ropes[i], *pool.ropes[j])), want) << i << " " << j;
            for (const std::size_t limit : {std::size_t{0}, std::size_t{5}, std::size_t{300}}) {
                const Text ta =
                    pool.pick(2) == 0 ? Text::of(a, limit) : Text::of(pool.ropes[i], limit);
                const Text tb =
                    pool.pick(2) == 0 ? Text::of(b, limit) : Text::of(pool.ropes[j], limit);
                ASSERT_EQ(ta.is_long(), a.size() > limit);
                ASSERT_EQ(sign(Text::compare(ta, tb)), want) << i << " " << j << " " << limit;
                ASSERT_EQ(ta > tb, want > 0);
                ASSERT_EQ(ta == tb, want == 0);
                if (want == 0) {
                    ASSERT_EQ(ta.hash_key(), tb.hash_key());
                }
            }
        }
    }
}

TEST(LongText, AstronomicalLengths) {
    // Two texts of 2^90 bytes that differ in their very last byte, and one a prefix of another.
    RopePtr a = Rope::literal("x - \\left(");
    for (int k = 0; k < 86; ++k) {
        a = Rope::join({a, a});
    }
    const RopePtr one = Rope::join({a, Rope::literal("1")});
    const RopePtr two = Rope::join({a, Rope::literal("2")});
    EXPECT_LT(Rope::compare(*one, *two), 0);
    EXPECT_GT(Rope::compare(*two, *one), 0);
    EXPECT_LT(Rope::compare(*a, *one), 0);
    EXPECT_EQ(Rope::compare(*one, *Rope::join({a, Rope::literal("1")})), 0);
    const Text t1 = Text::of(one, 1 << 20);
    const Text t2 = Text::of(two, 1 << 20);
    EXPECT_TRUE(t2 > t1);
    EXPECT_FALSE(t1 == t2);
    // Past 2^100 bytes the hash no longer separates texts reliably: refused as out of memory.
    RopePtr b = a;
    EXPECT_THROW(
        {
            for (int k = 0; k < 20; ++k) {
                b = Rope::join({b, b});
            }
        },
        std::bad_alloc);
}

TEST(LongText, DeepRopesReleaseWithoutRecursion) {
    RopePtr r = Rope::literal(std::string(300, 'a'));
    const RopePtr bs = Rope::literal(std::string(300, 'b'));
    for (int k = 0; k < 1'000'000; ++k) {
        const RopePtr held = r;  // a part held elsewhere is nested, not spliced
        r = Rope::join({held, bs});
    }
    EXPECT_EQ(r->at(0), 'a');
    // Made shallow, a text of 300 MB answers at once.
    const RopePtr shallow = Rope::balanced(r, Wide{1} << 30);
    EXPECT_NE(shallow, r);
    EXPECT_EQ(shallow->at(shallow->size() - 1), 'b');
    EXPECT_EQ(Rope::compare(*shallow, *r), 0);
    r.reset();
}

}  // namespace
}  // namespace tavrelo
