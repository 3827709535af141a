// A summand of an expanded value: an integer coefficient times powers of registered bases.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrelo::fast {

struct Power {
    std::uint32_t handle;  // the very node the reference algorithm would keep
    std::uint32_t id;      // its structure: equal ids, equal bases
    int exp;
};

using Powers = std::vector<Power>;

inline constexpr std::int32_t kNoKey = -1;

struct Summand {
    int coef;
    std::int32_t key;  // like-term key id, kNoKey until asked for
    Powers powers;     // in merge order; the text order is applied when a key or tree is made
};

}  // namespace tavrelo::fast
