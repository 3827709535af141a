// LaTeX texts of trees that may be far too long to write: shared subtrees let a small tree stand
// for a text of astronomical length. Short texts are rendered as usual; a long one is described
// by its pieces (literals and the texts of child nodes), node by node, each distinct shared node
// once.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

#include "expr.hpp"
#include "long_text.hpp"

namespace tavrelo {

// The text of `root` when it is at most `max_bytes` long, else nothing. The rendering also stops
// at any node of `stop_at` (nodes known to have longer texts).
[[nodiscard]] std::optional<std::string>
render_latex_within(const Expr& root, std::size_t max_bytes,
                    const std::unordered_set<const Expr*>* stop_at = nullptr);

// The length beyond which texts are kept compressed; tests lower it to run the compressed path
// on small trees.
[[nodiscard]] std::size_t long_text_threshold() noexcept;
void set_long_text_threshold(std::size_t bytes) noexcept;

// Texts of trees met during one computation, with the texts of long shared nodes remembered.
class LatexTexts {
public:
    explicit LatexTexts(std::size_t limit = long_text_threshold()) : limit_(limit) {}

    // A plain string when at most limit() bytes, else compressed. Long texts keep their nodes
    // alive.
    [[nodiscard]] Text of(const ExprPtr& root);
    [[nodiscard]] std::size_t limit() const { return limit_; }

private:
    RopePtr build(const ExprPtr& root);

    struct Known {
        ExprPtr node;
        RopePtr rope;
    };
    std::size_t limit_;
    std::unordered_map<const Expr*, Known> known_;  // shared nodes below long texts
    std::unordered_set<const Expr*> long_;          // those of them whose text is long
};

}  // namespace tavrelo
