// Many points: the program runs over blocks of points, one tight loop per instruction, so that
// the loops vectorise where the operation allows and the slots stay in cache.
#include <algorithm>
#include <functional>
#include <vector>

#include "evaluate/cursor.hpp"
#include "evaluate/elementary.hpp"
#include "evaluate/run.hpp"

namespace tavrelo::detail {
namespace {

constexpr std::size_t kBlock = 512;

template <class F>
[[gnu::always_inline]] inline void each(std::size_t n, double* out, const double* a, F f) {
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = f(a[i]);
    }
}

template <class F>
[[gnu::always_inline]] inline void each(std::size_t n, double* out, const double* a,
                                        const double* b, F f) {
    for (std::size_t i = 0; i < n; ++i) {
        out[i] = f(a[i], b[i]);
    }
}

// A domain function of domain.hpp with the reason dropped.
template <auto F>
struct Quiet {
    double operator()(double a) const {
        Undefined ignored{};
        return F(a, ignored);
    }
    double operator()(double a, double b) const {
        Undefined ignored{};
        return F(a, b, ignored);
    }
};

struct Same {
    double operator()(double /*a*/, double value) const { return value; }
};

// f over the block, four values at a time, each value then checked against its input by `check`
// (a domain rule of domain.hpp). The inputs are copied first: `out` may be `a`.
template <class Check>
void elementary(Elementary f, std::size_t n, double* out, const double* a, Check check) {
    const Kernel4 kernel = kernel_of(f);
    double in[4];
    double value[4];
    for (std::size_t i = 0; i < n; i += 4) {
        const std::size_t lanes = std::min<std::size_t>(4, n - i);
        for (std::size_t j = 0; j < 4; ++j) {
            in[j] = a[i + (j < lanes ? j : 0)];  // a short last group repeats its first value
        }
        kernel(in, value);
        for (std::size_t j = 0; j < lanes; ++j) {
            out[i + j] = check(in[j], value[j]);
        }
    }
}

struct Block {
    std::size_t n;
    const double* const* read;
    double* const* write;
    double* spare;  // room for one more block
};

template <class F>
[[gnu::always_inline]] inline void binary(const Instruction& in, const Block& block, F f) {
    double* out = block.write[in.out];
    const double k = in.k;
    switch (in.mode) {
    case Mode::ab: each(block.n, out, block.read[in.a], block.read[in.b], f); break;
    case Mode::ak: each(block.n, out, block.read[in.a], [=](double x) { return f(x, k); }); break;
    case Mode::kb: each(block.n, out, block.read[in.b], [=](double y) { return f(k, y); }); break;
    case Mode::a: break;
    }
}

// The steps of power_by_squaring, each over the whole block. `out` is not `a` (the slot
// assignment sees to it), and the base is squared in the spare block.
void pow_int(std::size_t n, double* out, const double* a, std::int32_t k, double* base) {
    if (k == 0) {
        each(n, out, a, [](double x) { return std::isnan(x) ? x : 1.0; });
        return;
    }
    std::uint32_t m = magnitude(k);
    if (m == 1) {
        std::copy_n(a, n, out);
    } else if (m == 2) {
        each(n, out, a, [](double x) { return x * x; });
    } else {
        std::copy_n(a, n, base);
        bool started = false;  // the result is 1 until then, and 1 * x is x exactly
        while (m != 0) {
            if ((m & 1U) != 0) {
                if (started) {
                    each(n, out, out, base, std::multiplies<>{});
                } else {
                    std::copy_n(base, n, out);
                    started = true;
                }
            }
            m >>= 1U;
            if (m != 0) {
                each(n, base, base, base, std::multiplies<>{});
            }
        }
    }
    if (k < 0) {
        each(n, out, a, out, [](double x, double p) {
            return x == 0 ? kUndefined : 1 / p;  // the rule of value_pow_int
        });
    }
}

// Wider vectors where the processor has them: the loops below are compiled twice and the
// loader picks one (results are the same: no fused multiply-add is formed either way).
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__)
#define TAVRELO_VECTOR_CLONES [[gnu::target_clones("arch=x86-64-v3", "default")]]
#else
#define TAVRELO_VECTOR_CLONES
#endif

TAVRELO_VECTOR_CLONES
void step(const Instruction& in, const Block& block) {
    const std::size_t n = block.n;
    double* out = block.write[in.out];
    switch (in.op) {
    case Op::neg: each(n, out, block.read[in.a], std::negate<>{}); break;
    case Op::sqrt: each(n, out, block.read[in.a], Quiet<value_sqrt>{}); break;
    case Op::cbrt: elementary(Elementary::cbrt, n, out, block.read[in.a], Same{}); break;
    case Op::sin: elementary(Elementary::sin, n, out, block.read[in.a], Same{}); break;
    case Op::cos: elementary(Elementary::cos, n, out, block.read[in.a], Same{}); break;
    case Op::tan: elementary(Elementary::tan, n, out, block.read[in.a], Quiet<value_tan>{}); break;
    case Op::log: elementary(Elementary::log, n, out, block.read[in.a], Quiet<value_log>{}); break;
    case Op::exp: elementary(Elementary::exp, n, out, block.read[in.a], Same{}); break;
    case Op::add: binary(in, block, std::plus<>{}); break;
    case Op::mul: binary(in, block, std::multiplies<>{}); break;
    case Op::div: binary(in, block, Quiet<value_div>{}); break;
    case Op::pow: binary(in, block, Quiet<value_pow>{}); break;
    case Op::pow_int:
        pow_int(n, out, block.read[in.a], static_cast<std::int32_t>(in.k), block.spare);
        break;
    case Op::add_scaled: {
        const double k = in.k;
        each(n, out, block.read[in.a], block.read[in.b],
             [k](double a, double b) { return a + k * b; });
        break;
    }
    case Op::undefined: std::fill_n(out, n, kUndefined); break;
    }
}

}  // namespace

void run_blocks(const Code& code, std::span<const ArrayArg> args,
                std::span<const std::size_t> shape, double* out) {
    std::size_t total = 1;
    for (const std::size_t extent : shape) {
        total *= extent;
    }
    if (total == 0) {
        return;
    }
    // One block for each slot (arguments read in place leave theirs unused) and a spare.
    std::vector<double> memory((code.slots + 1) * kBlock);
    std::vector<const double*> read(code.slots);
    std::vector<double*> write(code.slots);
    for (std::uint32_t s = 0; s < code.slots; ++s) {
        write[s] = memory.data() + s * kBlock;
        read[s] = write[s];
    }
    std::vector<Cursor> cursors;
    cursors.reserve(args.size());
    for (const ArrayArg& arg : args) {
        cursors.emplace_back(arg, shape);
    }
    const Block block_template{0, read.data(), write.data(), memory.data() + code.slots * kBlock};
    for (std::size_t start = 0; start < total; start += kBlock) {
        Block block = block_template;
        block.n = std::min(kBlock, total - start);
        for (std::uint32_t v = 0; v < code.variables; ++v) {
            read[v] = cursors[v].next(block.n, write[v]);
        }
        for (const Instruction& in : code.instructions) {
            step(in, block);
        }
        if (code.constant_result) {
            std::fill_n(out + start, block.n, code.constant);
        } else {
            std::copy_n(read[code.result_slot], block.n, out + start);
        }
    }
}

}  // namespace tavrelo::detail
