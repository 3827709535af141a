// Leaves of one reading, made once each: every `x` of a text is the same node, so a long text
// costs one node per operator rather than per name.
#pragma once

#include <array>
#include <string>
#include <string_view>
#include <unordered_map>

#include "core/expr.hpp"

namespace tavrelo::reading {

class Leaves {
public:
    [[nodiscard]] ExprPtr var(std::string_view name);
    [[nodiscard]] ExprPtr integer(int value);
    [[nodiscard]] ExprPtr pi();
    [[nodiscard]] ExprPtr e();

private:
    struct Hash {
        using is_transparent = void;
        std::size_t operator()(std::string_view s) const noexcept {
            return std::hash<std::string_view>{}(s);
        }
    };
    static constexpr int kSmallest = -256;
    static constexpr int kLargest = 1023;
    std::unordered_map<std::string, ExprPtr, Hash, std::equal_to<>> vars_;
    std::array<ExprPtr, kLargest - kSmallest + 1> small_;
    ExprPtr pi_;
    ExprPtr e_;
};

}  // namespace tavrelo::reading
