// The straight-line program a tree compiles to, shared by the compiler and the two runners.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/expr.hpp"
#include "evaluate/domain.hpp"

namespace tavrelo::detail {

enum class Op : std::uint8_t {
    neg,
    sqrt,
    cbrt,
    sin,
    cos,
    tan,
    log,
    exp,
    add,
    mul,
    div,
    pow,
    pow_int,     // a ^ k, k an integer in 32 bits
    add_scaled,  // a + k * b: a sum with a term times a constant, one pass instead of two
    undefined,   // a constant part outside the domain: NaN, or the point runner's error
};

// Where the operands come from: slots, or a slot and the constant `k`.
enum class Mode : std::uint8_t {
    a,   // unary: slot a
    ab,  // slots a and b
    ak,  // slot a, then k
    kb,  // k, then slot b
};

struct Instruction {
    Op op;
    Mode mode;
    Undefined why;  // of Op::undefined
    std::uint32_t out;
    std::uint32_t a;
    std::uint32_t b;
    double k;
    const Expr* node;  // the part of the tree computed, for error messages
};

// Slots 0 .. variables-1 hold the arguments and are only read; the instructions write the
// others, each reused once its value is dead.
struct Code {
    std::vector<Instruction> instructions;
    std::uint32_t variables = 0;
    std::uint32_t slots = 0;
    bool constant_result = false;
    double constant = 0;
    std::uint32_t result_slot = 0;
};

// Throws std::invalid_argument naming a variable missing from `variables`.
[[nodiscard]] Code compile_code(const ExprPtr& root, const std::vector<std::string>& variables);

// The value of one instruction at one point, with the domain rule of its operation.
[[nodiscard]] double apply(const Instruction& in, double a, double b, Undefined& why);

// `text` with every byte that is not part of valid UTF-8 written as \xNN, for error messages.
[[nodiscard]] std::string printable(const std::string& text);

}  // namespace tavrelo::detail
