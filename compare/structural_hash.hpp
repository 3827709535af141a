// A hash of a tree's structure that is the same in every process, run and machine.
#pragma once

#include <cstdint>

#include "core/expr.hpp"

namespace tavrelo {

// Equal for trees that are `same`; computed from kinds, values, names and positions only (no
// addresses, no per-process seed), so it may key persistent caches and partition data.
//
// With mix64 and absorb(h, w) = mix64(h ^ w) of compare/mix.hpp and seed(k) = (k + 1) times
// 0x9e3779b97f4a7c15 (mod 2^64) for the node kind k (ExprKind):
//   Int v            absorb(seed(0), v sign-extended to 64 bits)
//   Var name         absorb over seed(1), the byte length, then the bytes as 8-byte
//                    little-endian words (the last one padded with zero bytes)
//   Rational n/d     absorb(absorb(seed(2), n), d), both sign-extended
//   Pi, E            mix64(seed(k))
//   one child c      absorb(seed(k), hash(c))
//   two children     absorb(absorb(seed(k), hash(first)), hash(second))
// Walks with a heap stack and hashes each shared node once.
[[nodiscard]] std::uint64_t structural_hash(const Expr& root);

}  // namespace tavrelo
