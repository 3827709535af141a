#include "diff/polynomial.hpp"

#include <algorithm>
#include <numeric>
#include <utility>

#include "core/checked_int.hpp"
#include "core/children.hpp"
#include "diff/coefficient.hpp"

namespace tavrelo::detail {
namespace {

bool add_into(std::int64_t& target, std::int64_t a) {
    return !__builtin_add_overflow(target, a, &target);
}

// One step of the post-order walk of Polynomial::of.
struct Visit {
    const Expr* node;
    bool children_done;
};

}  // namespace

Polynomial::Polynomial(std::vector<std::int64_t> c) : coefficients_(std::move(c)) {
    while (!coefficients_.empty() && coefficients_.back() == 0) {
        coefficients_.pop_back();
    }
}

Polynomial Polynomial::constant(std::int64_t c) { return Polynomial({c}); }

Polynomial Polynomial::variable() { return Polynomial({0, 1}); }

std::optional<Polynomial> Polynomial::plus(const Polynomial& other) const {
    std::vector<std::int64_t> sum = coefficients_;
    sum.resize(std::max(sum.size(), other.coefficients_.size()), 0);
    for (std::size_t k = 0; k < other.coefficients_.size(); ++k) {
        if (!add_into(sum[k], other.coefficients_[k])) {
            return std::nullopt;
        }
    }
    return Polynomial(std::move(sum));
}

std::optional<Polynomial> Polynomial::times(const Polynomial& other) const {
    if (is_zero() || other.is_zero()) {
        return Polynomial();
    }
    const std::size_t size = coefficients_.size() + other.coefficients_.size() - 1;
    if (size > kMaxDegree + 1) {
        return std::nullopt;
    }
    std::vector<std::int64_t> product(size, 0);
    for (std::size_t i = 0; i < coefficients_.size(); ++i) {
        for (std::size_t j = 0; j < other.coefficients_.size(); ++j) {
            std::int64_t term = 0;
            if (__builtin_mul_overflow(coefficients_[i], other.coefficients_[j], &term) ||
                !add_into(product[i + j], term)) {
                return std::nullopt;
            }
        }
    }
    return Polynomial(std::move(product));
}

std::optional<Polynomial> Polynomial::negated() const {
    std::vector<std::int64_t> n = coefficients_;
    for (std::int64_t& c : n) {
        if (__builtin_sub_overflow(std::int64_t{0}, c, &c)) {
            return std::nullopt;
        }
    }
    return Polynomial(std::move(n));
}

std::optional<Polynomial> Polynomial::derivative() const {
    std::vector<std::int64_t> d;
    for (std::size_t k = 1; k < coefficients_.size(); ++k) {
        std::int64_t c = 0;
        if (__builtin_mul_overflow(coefficients_[k], static_cast<std::int64_t>(k), &c)) {
            return std::nullopt;
        }
        d.push_back(c);
    }
    return Polynomial(std::move(d));
}

std::optional<Polynomial> Polynomial::divided_by(const Polynomial& divisor) const {
    const std::size_t m = divisor.coefficients_.size();
    if (m < 2 || coefficients_.size() < m) {
        return std::nullopt;
    }
    const std::int64_t lead = divisor.coefficients_.back();
    std::vector<std::int64_t> rest = coefficients_;
    std::vector<std::int64_t> quotient(rest.size() - m + 1, 0);
    for (std::size_t i = quotient.size(); i-- > 0;) {
        const std::int64_t top = rest[i + m - 1];
        if (top % lead != 0) {
            return std::nullopt;
        }
        quotient[i] = top / lead;
        for (std::size_t j = 0; j < m; ++j) {
            std::int64_t t = 0;
            if (__builtin_mul_overflow(quotient[i], divisor.coefficients_[j], &t) ||
                __builtin_sub_overflow(rest[i + j], t, &rest[i + j])) {
                return std::nullopt;
            }
        }
    }
    if (std::any_of(rest.begin(), rest.end(), [](std::int64_t c) { return c != 0; })) {
        return std::nullopt;
    }
    return Polynomial(std::move(quotient));
}

std::optional<Polynomial> Polynomial::of(const Expr& tree, std::string_view var) {
    std::vector<Visit> pending{{&tree, false}};
    std::vector<Polynomial> values;
    std::size_t seen = 0;
    while (!pending.empty()) {
        Visit& v = pending.back();
        const Expr& e = *v.node;
        if (!v.children_done) {
            if (++seen > kMaxNodes) {
                return std::nullopt;
            }
            v.children_done = true;
            const Children c = children_of(e);
            if (kind_of(e) == ExprKind::Pow) {
                // Only a non-negative Int exponent; the exponent is read, not walked.
                const ExprPtr& x = as<Pow>(e).exp;
                if (kind_of(*x) != ExprKind::Int || as<Int>(*x).value < 0 ||
                    static_cast<std::size_t>(as<Int>(*x).value) > kMaxDegree) {
                    return std::nullopt;
                }
                pending.push_back({c.first->get(), false});
            } else if (c.first != nullptr) {
                if (c.second != nullptr) {
                    pending.push_back({c.second->get(), false});
                }
                pending.push_back({c.first->get(), false});
            }
            continue;
        }
        pending.pop_back();
        std::optional<Polynomial> value;
        switch (kind_of(e)) {
        case ExprKind::Int: value = constant(as<Int>(e).value); break;
        case ExprKind::Var:
            if (as<Var>(e).name != var) {
                return std::nullopt;
            }
            value = variable();
            break;
        case ExprKind::Neg: value = values.back().negated(); break;
        case ExprKind::Add:
        case ExprKind::Mul: {
            const Polynomial right = std::move(values.back());
            values.pop_back();
            value = kind_of(e) == ExprKind::Add ? values.back().plus(right)
                                                : values.back().times(right);
            break;
        }
        case ExprKind::Pow: {
            const int n = as<Int>(*as<Pow>(e).exp).value;
            value = constant(1);
            for (int i = 0; i < n && value; ++i) {
                value = value->times(values.back());
            }
            break;
        }
        default: return std::nullopt;  // functions, quotients, fractions, constants
        }
        if (!value) {
            return std::nullopt;
        }
        if (kind_of(e) != ExprKind::Int && kind_of(e) != ExprKind::Var) {
            values.pop_back();
        }
        values.push_back(std::move(*value));
    }
    return std::move(values.back());
}

bool Polynomial::fits_int32() const {
    return std::all_of(coefficients_.begin(), coefficients_.end(),
                       [](std::int64_t c) { return tavrelo::fits_int32(c); });
}

textbook::Term Polynomial::to_term(const ExprPtr& var) const {
    if (is_zero()) {
        return textbook::Term::zero();
    }
    if (!fits_int32()) {
        throw_overflow();
    }
    std::int64_t content = 0;
    for (const std::int64_t c : coefficients_) {
        content = std::gcd(content, c);
    }
    if (coefficients_.back() < 0) {
        content = -content;
    }
    textbook::Term sum = textbook::Term::zero();
    for (std::size_t k = coefficients_.size(); k-- > 0;) {
        if (coefficients_[k] != 0) {
            ExprPtr power = k == 0 ? nullptr : textbook::power(var, static_cast<std::int64_t>(k));
            sum = textbook::add(sum, {Coefficient{coefficients_[k] / content, 1}, std::move(power),
                                      nullptr, nullptr});
        }
    }
    return textbook::mul(textbook::Term::number(Coefficient{content, 1}), sum);
}

std::size_t tree_size(const ExprPtr& e, std::size_t cap) {
    std::vector<const Expr*> pending{e.get()};
    std::size_t count = 0;
    while (!pending.empty() && count < cap) {
        const Children c = children_of(*pending.back());
        pending.pop_back();
        ++count;
        if (c.first != nullptr) {
            pending.push_back(c.first->get());
        }
        if (c.second != nullptr) {
            pending.push_back(c.second->get());
        }
    }
    return count;
}

}  // namespace tavrelo::detail
