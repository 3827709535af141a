// A long text node by node: the rules of the text one level at a time, children's texts taken as
// whole pieces. A node's text is a function of the node alone (parentheses a parent adds wrap it
// from outside, and what stands between two factors depends only on how the left factor's text
// ends and the right one's begins), so equal nodes give equal pieces.
#include "latex_text.hpp"

#include "latex_rules.hpp"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstdint>
#include <utility>
#include <vector>

namespace tavrelo {
namespace {

constexpr std::size_t kDefaultThreshold = std::size_t{1} << 20;
std::atomic<std::size_t> threshold{kDefaultThreshold};

using latex::is_ascii_letter;

bool is_leaf(const Expr& e) { return tavrelo::is_leaf(kind_of(e)); }

std::string digits(std::int64_t v) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

// Collects the children whose texts must be known first.
struct Needs {
    std::vector<const ExprPtr*>& out;
    void literal(std::string_view) {}
    void integer(std::int64_t) {}
    void child(const ExprPtr& c, Precedence) {
        if (!is_leaf(*c)) {
            out.push_back(&c);
        }
    }
    void side_by_side(const Mul& m) {
        child(m.left, latex::kFactor);
        child(m.right, latex::kFactor);
    }
};

// Joins the pieces, taking the children's texts in order from `texts`.
struct Assemble {
    struct Piece {
        RopePtr text;
        const ExprPtr* child;  // whose text this is, or null for a literal
        bool wrapped;          // in parentheses
    };
    RopePtr* texts;
    std::vector<Piece> pieces = {};

    static const RopePtr& open() {
        static const RopePtr text = Rope::literal(latex::kOpen);
        return text;
    }
    static const RopePtr& close() {
        static const RopePtr text = Rope::literal(latex::kClose);
        return text;
    }

    void literal(std::string_view s) {
        if (!s.empty()) {
            pieces.push_back(Piece{Rope::literal(s), nullptr, false});
        }
    }
    void integer(std::int64_t v) { literal(digits(v)); }
    void child(const ExprPtr& c, Precedence least) {
        (void)add(c, text_of(c), latex::wrapped_at(*c, least));
    }
    void side_by_side(const Mul& m) {
        const Summary left =
            add(m.left, text_of(m.left), latex::wrapped_at(*m.left, latex::kFactor));
        RopePtr right = text_of(m.right);
        bool wrapped = latex::wrapped_at(*m.right, latex::kFactor);
        if (wrapped || right->size() != 0) {
            const auto first =
                static_cast<unsigned char>(wrapped ? latex::kOpen.front() : right->summary().first);
            const latex::Join j = latex::join(ending(left), first);
            if (j == latex::Join::Parentheses) {
                wrapped = true;
            } else {
                literal(latex::before_right(j));
            }
        }
        (void)add(m.right, std::move(right), wrapped);
    }

    // The text of the child `c`, the next one in order.
    RopePtr text_of(const ExprPtr& c) {
        return is_leaf(*c) ? Rope::literal(render_latex(*c)) : std::move(*texts++);
    }

    // Adds the text of `c`, in parentheses when `wrapped`, and returns what the piece is.
    Summary add(const ExprPtr& c, RopePtr text, bool wrapped) {
        const Summary whole =
            wrapped ? then(then(open()->summary(), text->summary()), close()->summary())
                    : text->summary();
        pieces.push_back(Piece{std::move(text), &c, wrapped});
        return whole;
    }

    // How a text ends; an empty one as if it ended in nothing special.
    static latex::Ending ending(const Summary& s) {
        if (s.size == 0) {
            return latex::Ending::Other;
        }
        return latex::ending(s.last, is_ascii_letter(s.last) && s.backslash_before_run);
    }

    // The length of the joined text.
    [[nodiscard]] Wide size() const {
        Wide n = 0;
        for (const Piece& p : pieces) {
            n += p.text->size() + (p.wrapped ? open()->size() + close()->size() : 0);
        }
        return n;
    }

    [[nodiscard]] RopePtr joined() {
        std::vector<RopePtr> parts;
        for (Piece& p : pieces) {
            if (p.wrapped) {
                parts.push_back(open());
            }
            parts.push_back(std::move(p.text));
            if (p.wrapped) {
                parts.push_back(close());
            }
        }
        return Rope::join(std::move(parts));
    }
};

}  // namespace

std::size_t long_text_threshold() noexcept { return threshold.load(std::memory_order_relaxed); }

void set_long_text_threshold(std::size_t bytes) noexcept {
    threshold.store(bytes == 0 ? kDefaultThreshold : bytes, std::memory_order_relaxed);
}

Text LatexTexts::of(const ExprPtr& root) {
    if (const auto hit = known_.find(root.get()); hit != known_.end()) {
        return Text::of(hit->second.rope, limit_);
    }
    auto text = render_latex_within(*root, limit_, long_.empty() ? nullptr : &long_);
    if (text) {
        return Text(std::move(*text));
    }
    return Text::of(build(root), limit_);
}

// Children before parents with an explicit stack (depth costs heap only); a shared node's text
// is built once and remembered.
RopePtr LatexTexts::build(const ExprPtr& root) {
    struct Frame {
        const ExprPtr* node;
        bool children_done;
        std::size_t first_value;  // where the children's texts start in `values`
    };
    std::vector<Frame> frames{{&root, false, 0}};
    std::vector<RopePtr> values;
    std::vector<const ExprPtr*> children;
    while (!frames.empty()) {
        const Frame f = frames.back();
        const ExprPtr& node = *f.node;
        const bool keep = f.node == &root || node.use_count() > 1;
        if (!f.children_done) {
            if (keep) {
                if (const auto hit = known_.find(node.get()); hit != known_.end()) {
                    values.push_back(hit->second.rope);
                    frames.pop_back();
                    continue;
                }
            }
            frames.back().children_done = true;
            frames.back().first_value = values.size();
            children.clear();
            Needs needs{children};
            latex::describe(*node, needs);
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                frames.push_back(Frame{*it, false, 0});
            }
            continue;
        }
        frames.pop_back();
        Assemble assemble{values.data() + f.first_value};
        latex::describe(*node, assemble);
        values.resize(f.first_value);
        if (assemble.size() > limit_) {
            // Short texts inside a long one are made shallow once, so that looking up a byte
            // deep inside the long text takes few steps.
            for (Assemble::Piece& p : assemble.pieces) {
                RopePtr shallow = Rope::balanced(p.text, limit_);
                if (shallow == p.text) {
                    continue;
                }
                if (p.child != nullptr) {
                    const auto hit = known_.find(p.child->get());
                    if (hit != known_.end() && hit->second.rope == p.text) {
                        hit->second.rope = shallow;
                    }
                }
                p.text = std::move(shallow);
            }
        }
        RopePtr text = assemble.joined();
        if (keep) {
            known_.emplace(node.get(), Known{node, text});
            if (text->size() > limit_) {
                long_.insert(node.get());
            }
        }
        values.push_back(std::move(text));
    }
    return std::move(values.back());
}

}  // namespace tavrelo
