#include "expand/keys.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "expand/term.hpp"

namespace tavrelo::fast {
namespace {

bool is_ascii_letter(unsigned char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// What the renderer writes between two factors standing side by side: digits never run into
// digits, and a control word is closed before a letter.
std::string_view separator(std::string_view left, std::string_view right) {
    if (left.empty() || right.empty()) {
        return {};
    }
    const auto last = static_cast<unsigned char>(left.back());
    const auto first = static_cast<unsigned char>(right.front());
    if (is_digit(last)) {
        return is_digit(first) ? " \\cdot " : "";
    }
    std::size_t run = left.size();
    while (run > 0 && is_ascii_letter(static_cast<unsigned char>(left[run - 1]))) {
        --run;
    }
    if (run < left.size() && run > 0 && left[run - 1] == '\\' &&
        (is_ascii_letter(first) || first >= 0x80)) {
        return " ";
    }
    return {};
}

bool wrapped_as_power_base(const Expr& b) {
    return b.precedence() < 4 || kind_of(b) == ExprKind::Pow ||
           (kind_of(b) == ExprKind::Int && as<Int>(b).value < 0) ||
           (kind_of(b) == ExprKind::Rational && as<Rational>(b).num < 0);
}

void append_power_text(std::string& out, const Expr& base, const std::string& base_text, int exp) {
    if (wrapped_as_power_base(base)) {
        out += "\\left(";
        out += base_text;
        out += "\\right)";
    } else {
        out += base_text;
    }
    out += "^{";
    out += std::to_string(exp);
    out += '}';
}

}  // namespace

Keys::Keys(Bases& bases) : bases_(bases) { (void)intern("1"); }

bool Keys::before(std::uint32_t a, std::uint32_t b) const {
    if (b == kOne) {
        return a != kOne;
    }
    if (a == kOne) {
        return false;
    }
    return texts_[a] > texts_[b];
}

std::uint32_t Keys::intern(std::string text) {
    const auto found = id_of_text_.find(text);
    if (found != id_of_text_.end()) {
        return found->second;
    }
    const auto id = static_cast<std::uint32_t>(texts_.size());
    texts_.push_back(std::move(text));
    id_of_text_.emplace(texts_.back(), id);
    return id;
}

std::uint32_t Keys::key_of(const Powers& powers) {
    live_.clear();
    for (const Power& p : powers) {
        if (p.exp != 0) {
            live_.emplace_back(bases_.group(p.id), &p);
        }
    }
    if (live_.empty()) {
        return kOne;
    }
    // Canonical form: grouped by text, equal texts in list order (the order the text sort keeps).
    for (std::size_t i = 1; i < live_.size(); ++i) {
        for (std::size_t j = i; j > 0 && live_[j - 1].first > live_[j].first; --j) {
            std::swap(live_[j - 1], live_[j]);
        }
    }
    packed_.clear();
    for (const auto& [group, p] : live_) {
        char bytes[8];
        std::memcpy(bytes, &p->id, 4);
        std::memcpy(bytes + 4, &p->exp, 4);
        packed_.append(bytes, sizeof bytes);
    }
    const auto cached = by_monomial_.find(std::string_view(packed_));
    if (cached != by_monomial_.end()) {
        return cached->second;
    }
    std::vector<const Power*> by_text;
    by_text.reserve(live_.size());
    for (const auto& [group, p] : live_) {
        by_text.push_back(p);
    }
    std::stable_sort(by_text.begin(), by_text.end(), [&](const Power* a, const Power* b) {
        return bases_.text(a->id) > bases_.text(b->id);
    });
    const std::uint32_t key = intern(render(by_text));
    by_monomial_.emplace(packed_, key);
    return key;
}

std::string Keys::render(const std::vector<const Power*>& by_text) {
    // Numbers standing as factors change the product's rules: render the real tree.
    for (const Power* p : by_text) {
        const ExprKind k = kind_of(bases_.representative(p->id));
        if (p->exp == 1 && (k == ExprKind::Int || k == ExprKind::Rational)) {
            Powers copy;
            for (const Power* q : by_text) {
                copy.push_back(*q);
            }
            return build_summand(bases_, 1, copy)->to_string();
        }
    }
    const bool product = by_text.size() > 1;
    std::string out;
    std::string piece;
    for (const Power* p : by_text) {
        const Expr& base = bases_.representative(p->id);
        const std::string& base_text = bases_.text(p->id);
        piece.clear();
        if (p->exp != 1) {
            append_power_text(piece, base, base_text, p->exp);
        } else if (product && base.precedence() < 3) {
            piece += "\\left(";
            piece += base_text;
            piece += "\\right)";
        } else {
            piece = base_text;
        }
        out += separator(out, piece);
        out += piece;
    }
    return out;
}

ExprPtr build_summand(Bases& bases, int coef, const Powers& powers) {
    std::vector<std::pair<const std::string*, const Power*>> order;
    order.reserve(powers.size());
    for (const Power& p : powers) {
        if (p.exp != 0) {
            order.emplace_back(&bases.text(p.id), &p);
        }
    }
    std::stable_sort(order.begin(), order.end(),
                     [](const auto& a, const auto& b) { return *a.first > *b.first; });
    ExprPtr product;
    for (const auto& [text, p] : order) {
        const ExprPtr& base = bases.node(p->handle);
        ExprPtr piece =
            p->exp == 1 ? base : std::make_shared<Pow>(base, std::make_shared<Int>(p->exp));
        product = product ? std::make_shared<Mul>(std::move(product), std::move(piece))
                          : std::move(piece);
    }
    if (coef == 0 || !product) {
        return std::make_shared<Int>(coef);
    }
    if (coef == 1) {
        return product;
    }
    if (coef == -1) {
        return std::make_shared<Neg>(std::move(product));
    }
    return std::make_shared<Mul>(std::make_shared<Int>(coef), std::move(product));
}

}  // namespace tavrelo::fast
