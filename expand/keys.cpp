#include "expand/keys.hpp"

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "core/latex_rules.hpp"
#include "expand/term.hpp"

namespace tavrelo::fast {
namespace {

void append_power_text(std::string& out, const Expr& base, const std::string& base_text, int exp) {
    if (latex::wrapped_as_power_base(base)) {
        out += latex::kOpen;
        out += base_text;
        out += latex::kClose;
    } else {
        out += base_text;
    }
    out += latex::kPowerOpen;
    out += std::to_string(exp);
    out += latex::kGroupClose;
}

}  // namespace

Keys::Keys(Bases& bases) : bases_(bases) { (void)intern(Text("1")); }

bool Keys::before(std::uint32_t a, std::uint32_t b) const {
    if (b == kOne) {
        return a != kOne;
    }
    if (a == kOne) {
        return false;
    }
    return texts_[a] > texts_[b];
}

std::uint32_t Keys::intern(Text text) {
    const std::uint64_t h = text.hash_key() * 0x9E3779B97F4A7C15ull;
    const std::uint32_t found =
        text_index_.find(h, [&](std::uint32_t id) { return texts_[id] == text; });
    if (found != FlatIndex::kAbsent) {
        return found;
    }
    const auto id = static_cast<std::uint32_t>(texts_.size());
    texts_.push_back(std::move(text));
    text_index_.insert(h, id);
    return id;
}

std::uint32_t Keys::find_canonical(const std::vector<std::uint32_t>& words,
                                   std::uint64_t hash) const {
    const std::uint32_t known = monomial_index_.find(hash, [&](std::uint32_t m) {
        const Monomial& mono = monomials_[m];
        return mono.length == words.size() &&
               std::memcmp(&words_[mono.offset], words.data(), 4 * words.size()) == 0;
    });
    return known == FlatIndex::kAbsent ? known : monomials_[known].key;
}

std::uint32_t Keys::key_of_canonical(const std::vector<std::uint32_t>& words, std::uint64_t hash) {
    const std::uint32_t known = find_canonical(words, hash);
    if (known != FlatIndex::kAbsent) {
        return known;
    }
    canonical_powers_.clear();
    for (std::size_t i = 0; i < words.size(); i += 2) {
        canonical_powers_.push_back(Power{bases_.representative_handle(words[i]), words[i],
                                          static_cast<int>(words[i + 1])});
    }
    by_text_.clear();
    for (const Power& p : canonical_powers_) {
        by_text_.push_back(&p);
    }
    const std::uint32_t key = intern(render(by_text_));
    monomials_.push_back(Monomial{static_cast<std::uint32_t>(words_.size()),
                                  static_cast<std::uint32_t>(words.size()), key});
    words_.insert(words_.end(), words.begin(), words.end());
    monomial_index_.insert(hash, static_cast<std::uint32_t>(monomials_.size() - 1));
    return key;
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
    // Canonical form: equal texts stay in list order (the order the text sort keeps), which is
    // all the key depends on. With ranks, the canonical form is the text order itself.
    const bool ranked = bases_.ranked();
    if (ranked) {
        for (auto& [order, p] : live_) {
            order = bases_.rank(order);
        }
    }
    for (std::size_t i = 1; i < live_.size(); ++i) {
        for (std::size_t j = i; j > 0 && live_[j - 1].first > live_[j].first; --j) {
            std::swap(live_[j - 1], live_[j]);
        }
    }
    packed_.clear();
    for (const auto& [group, p] : live_) {
        packed_.push_back(p->id);
        packed_.push_back(static_cast<std::uint32_t>(p->exp));
    }
    const std::uint64_t h = hash_words(packed_.data(), packed_.size());
    const std::uint32_t known = find_canonical(packed_, h);
    if (known != FlatIndex::kAbsent) {
        return known;
    }
    by_text_.clear();
    for (const auto& [group, p] : live_) {
        by_text_.push_back(p);
    }
    const auto later_text = [&](const Power* a, const Power* b) {
        return bases_.text(a->id) > bases_.text(b->id);
    };
    if (ranked) {
        // Already in text order.
    } else if (by_text_.size() <= 32) {
        for (std::size_t i = 1; i < by_text_.size(); ++i) {
            for (std::size_t j = i; j > 0 && later_text(by_text_[j], by_text_[j - 1]); --j) {
                std::swap(by_text_[j - 1], by_text_[j]);
            }
        }
    } else {
        std::stable_sort(by_text_.begin(), by_text_.end(), later_text);
    }
    const std::uint32_t key = intern(render(by_text_));
    monomials_.push_back(Monomial{static_cast<std::uint32_t>(words_.size()),
                                  static_cast<std::uint32_t>(packed_.size()), key});
    words_.insert(words_.end(), packed_.begin(), packed_.end());
    monomial_index_.insert(h, static_cast<std::uint32_t>(monomials_.size() - 1));
    return key;
}

Text Keys::render(const std::vector<const Power*>& by_text) {
    // Numbers standing as factors change the product's rules, and long texts are joined as
    // pieces: render the real tree.
    bool numbers = false;
    bool long_texts = false;
    for (const Power* p : by_text) {
        const ExprKind k = kind_of(bases_.representative(p->id));
        numbers = numbers || (p->exp == 1 && (k == ExprKind::Int || k == ExprKind::Rational));
        long_texts = long_texts || bases_.text(p->id).is_long();
    }
    if (long_texts && !numbers && by_text.size() == 1 && by_text.front()->exp == 1) {
        return bases_.text(by_text.front()->id);
    }
    if (numbers || long_texts) {
        Powers copy;
        for (const Power* q : by_text) {
            copy.push_back(*q);
        }
        return bases_.text_of_tree(build_summand(bases_, 1, copy));
    }
    // The term's tree is the left-nested product of the pieces: each after the first is the
    // right factor of a product.
    const bool product = by_text.size() > 1;
    std::string out;
    std::string piece;
    for (const Power* p : by_text) {
        const Expr& base = bases_.representative(p->id);
        const std::string& base_text = bases_.text(p->id).str();
        piece.clear();
        if (p->exp != 1) {
            append_power_text(piece, base, base_text, p->exp);
        } else if (product && latex::wrapped_at(base, latex::kFactor)) {
            piece += latex::kOpen;
            piece += base_text;
            piece += latex::kClose;
        } else {
            piece = base_text;
        }
        if (p == by_text.front()) {
            out = piece;
        } else {
            latex::append_right_factor(out, piece);
        }
    }
    return Text::of(std::move(out), bases_.text_limit());
}

ExprPtr build_summand(Bases& bases, TermBuilder& builder, int coef, const Powers& powers) {
    // (text rank or 0, text, power); ranks make the usual short lists cheap to order.
    struct Placed {
        std::uint32_t rank;
        const Text* text;
        const Power* power;
    };
    std::vector<Placed> order;
    order.reserve(powers.size());
    for (const Power& p : powers) {
        if (p.exp != 0) {
            order.push_back(Placed{0, &bases.text(p.id), &p});
        }
    }
    if (bases.ranked()) {
        for (Placed& o : order) {
            o.rank = bases.rank(bases.group(o.power->id));
        }
        for (std::size_t i = 1; i < order.size() && order.size() <= 32; ++i) {
            for (std::size_t j = i; j > 0 && order[j].rank < order[j - 1].rank; --j) {
                std::swap(order[j - 1], order[j]);
            }
        }
        if (order.size() > 32) {
            std::stable_sort(order.begin(), order.end(),
                             [](const Placed& a, const Placed& b) { return a.rank < b.rank; });
        }
    } else {
        std::stable_sort(order.begin(), order.end(),
                         [](const Placed& a, const Placed& b) { return *a.text > *b.text; });
    }
    for (const Placed& o : order) {
        builder.factor(o.power->handle, o.power->exp);
    }
    return builder.finish(coef);
}

ExprPtr build_summand(Bases& bases, int coef, const Powers& powers) {
    TermBuilder builder(bases);
    return build_summand(bases, builder, coef, powers);
}

}  // namespace tavrelo::fast
