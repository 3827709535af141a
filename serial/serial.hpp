// Trees as bytes and back: the binary format of serial/FORMAT.md.
#pragma once

#include <string>
#include <string_view>

#include "core/expr.hpp"

namespace tavrelo {

// The version that dumps writes and the only one loads reads.
inline constexpr int kFormatVersion = 1;

// The tree as bytes; each distinct node is written once, so shared subtrees stay shared. Throws
// std::invalid_argument only for a Var name of 4 GiB or more.
[[nodiscard]] std::string dumps(const Expr& root);

// The tree that dumps wrote. Anything else (truncated, corrupted, another version, references
// forward or out of range, lengths beyond the data, integers outside 32 bits, trailing bytes)
// throws std::invalid_argument with a message that says what is wrong and at which byte. Memory
// grows with the records actually read, never with a count the data declares.
[[nodiscard]] ExprPtr loads(std::string_view data);

}  // namespace tavrelo
