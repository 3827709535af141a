// A long text node by node: the renderer's rules one level at a time, children's texts taken as
// whole pieces. A node's text is a function of the node alone (parentheses a parent adds wrap it
// from outside, and the separator between two factors depends only on how the left factor's
// text ends and the right one's begins), so equal nodes give equal pieces.
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
using latex::is_digit;

bool is_leaf(const Expr& e) {
    switch (kind_of(e)) {
    case ExprKind::Int:
    case ExprKind::Var:
    case ExprKind::Rational:
    case ExprKind::Pi:
    case ExprKind::E: return true;
    default: return false;
    }
}

bool is_int(const Expr& e, int v) { return kind_of(e) == ExprKind::Int && as<Int>(e).value == v; }

std::string digits(std::int64_t v) {
    char buf[24];
    const auto res = std::to_chars(buf, buf + sizeof buf, v);
    return std::string(buf, res.ptr);
}

// What the renderer writes between two factors standing side by side.
std::string_view separator_between(const Summary& left, const Summary& right) {
    if (left.size == 0 || right.size == 0) {
        return {};
    }
    const latex::Join end = is_digit(left.last) ? latex::Join::DigitEnd
                            : is_ascii_letter(left.last) && left.backslash_before_run
                                ? latex::Join::ControlWordEnd
                                : latex::Join::None;
    return latex::separator(end, right.first);
}

template <class Sink>
void wrapped(Sink& s, std::string_view open, const ExprPtr& operand, std::string_view close) {
    s.literal(open);
    s.child(operand, 0);
    s.literal(close);
}

// The pieces of the text of `e` (no outer parentheses), in order, as the renderer writes them:
// sink.literal(text), sink.child(node, least precedence without parentheses), and
// sink.separator() between the two factors of a product.
template <class Sink>
void describe(const Expr& e, Sink& s) {
    switch (kind_of(e)) {
    case ExprKind::Neg:
        s.literal("-");
        s.child(as<Neg>(e).operand, 2);
        return;
    case ExprKind::Add: {
        const Add& a = as<Add>(e);
        s.child(a.left, 0);
        const Expr& r = *a.right;
        if (kind_of(r) == ExprKind::Neg) {
            s.literal(" - ");
            s.child(as<Neg>(r).operand, 2);
            return;
        }
        if (kind_of(r) == ExprKind::Int && as<Int>(r).value < 0) {
            s.literal(" - ");
            s.literal(digits(-std::int64_t{as<Int>(r).value}));
            return;
        }
        if (kind_of(r) == ExprKind::Rational && as<Rational>(r).num < 0) {
            const Rational& q = as<Rational>(r);
            const std::string magnitude = digits(-std::int64_t{q.num});
            s.literal(" - ");
            s.literal(q.den == 1 ? magnitude : "\\frac{" + magnitude + "}{" + digits(q.den) + "}");
            return;
        }
        s.literal(" + ");
        s.child(a.right, 0);
        return;
    }
    case ExprKind::Mul: {
        const Mul& m = as<Mul>(e);
        if (is_int(*m.left, -1)) {
            s.literal("-");
            s.child(m.right, 3);
        } else if (is_int(*m.left, 1)) {
            s.child(m.right, 3);
        } else if (is_int(*m.right, 1)) {
            s.child(m.left, 3);
        } else if (m.left->is_number() && m.right->is_number()) {
            s.child(m.left, 3);
            s.literal(" \\cdot ");
            s.child(m.right, 3);
        } else {
            s.child(m.left, 3);
            s.separator();
            s.child(m.right, 3);
        }
        return;
    }
    case ExprKind::Div:
        s.literal("\\frac{");
        s.child(as<Div>(e).num, 0);
        s.literal("}{");
        s.child(as<Div>(e).den, 0);
        s.literal("}");
        return;
    case ExprKind::Pow: {
        const Expr& b = *as<Pow>(e).base;
        const bool wrap = latex::wrapped_as_power_base(b);
        if (wrap) {
            s.literal("\\left(");
        }
        s.child(as<Pow>(e).base, 0);
        if (wrap) {
            s.literal("\\right)");
        }
        s.literal("^{");
        s.child(as<Pow>(e).exp, 0);
        s.literal("}");
        return;
    }
    case ExprKind::Sqrt: return wrapped(s, "\\sqrt{", as<Sqrt>(e).operand, "}");
    case ExprKind::Cbrt: return wrapped(s, "\\sqrt[3]{", as<Cbrt>(e).operand, "}");
    case ExprKind::Sin: return wrapped(s, "\\sin\\left(", as<Sin>(e).operand, "\\right)");
    case ExprKind::Cos: return wrapped(s, "\\cos\\left(", as<Cos>(e).operand, "\\right)");
    case ExprKind::Tan: return wrapped(s, "\\tan\\left(", as<Tan>(e).operand, "\\right)");
    case ExprKind::Log: return wrapped(s, "\\ln\\left(", as<Log>(e).operand, "\\right)");
    default: s.literal(render_latex(e)); return;
    }
}

// Collects the children whose texts must be known first.
struct Needs {
    std::vector<const ExprPtr*>& out;
    void literal(std::string_view) {}
    void separator() {}
    void child(const ExprPtr& c, int) {
        if (!is_leaf(*c)) {
            out.push_back(&c);
        }
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
    bool product = false;
    Summary left = {};

    static const RopePtr& open() {
        static const RopePtr text = Rope::literal("\\left(");
        return text;
    }
    static const RopePtr& close() {
        static const RopePtr text = Rope::literal("\\right)");
        return text;
    }

    void literal(std::string_view s) {
        if (!s.empty()) {
            pieces.push_back(Piece{Rope::literal(s), nullptr, false});
        }
    }
    void separator() { product = true; }
    void child(const ExprPtr& c, int min_prec) {
        RopePtr text = is_leaf(*c) ? Rope::literal(render_latex(*c)) : std::move(*texts++);
        // A right factor that begins with a minus sign would read as a subtraction.
        const bool wrapped = c->precedence() < min_prec ||
                             (product && text->size() != 0 && text->summary().first == '-');
        const Summary whole =
            wrapped ? then(then(open()->summary(), text->summary()), close()->summary())
                    : text->summary();
        if (product) {
            literal(separator_between(left, whole));
            product = false;
        }
        left = whole;
        pieces.push_back(Piece{std::move(text), &c, wrapped});
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
            describe(*node, needs);
            for (auto it = children.rbegin(); it != children.rend(); ++it) {
                frames.push_back(Frame{*it, false, 0});
            }
            continue;
        }
        frames.pop_back();
        Assemble assemble{values.data() + f.first_value};
        describe(*node, assemble);
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
