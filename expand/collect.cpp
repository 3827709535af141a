#include "expand/collect.hpp"

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>

#include "core/checked_int.hpp"
#include "core/node_pool.hpp"

namespace tavrelo {

void split_sum(const ExprPtr& e, std::vector<Term>& summands) {
    // Depth-first, left before right, without recursion: sums may nest a million deep.
    std::vector<const ExprPtr*> pending{&e};
    while (!pending.empty()) {
        const ExprPtr& node = *pending.back();
        pending.pop_back();
        if (kind_of(*node) == ExprKind::Add) {
            pending.push_back(&as<Add>(*node).right);
            pending.push_back(&as<Add>(*node).left);
        } else {
            summands.push_back(decompose_term(node));
        }
    }
}

bool key_before(std::string_view a, std::string_view b) {
    if (b == "1") {
        return a != "1";
    }
    if (a == "1") {
        return false;
    }
    return a > b;
}

namespace {

struct Entry {
    std::int64_t sum;  // exact while summing; must fit 32 bits once collected
    std::vector<Factor> factors;
};

}  // namespace

ExprPtr collect_terms(const ExprPtr& e) {
    std::vector<Term> summands;
    split_sum(e, summands);
    std::map<std::string, Entry, std::less<>> table;
    for (Term& t : summands) {
        if (t.coefficient == 0) {
            continue;
        }
        std::string key = term_key(t);
        const auto found = table.find(key);
        if (found == table.end()) {
            table.emplace(std::move(key), Entry{t.coefficient, std::move(t.factors)});
        } else {
            found->second.sum += t.coefficient;
        }
    }
    std::vector<std::pair<std::string_view, const Entry*>> order;
    order.reserve(table.size());
    for (const auto& [key, entry] : table) {
        order.emplace_back(key, &entry);
    }
    std::sort(order.begin(), order.end(),
              [](const auto& a, const auto& b) { return key_before(a.first, b.first); });
    ExprPtr sum;
    for (const auto& [key, entry] : order) {
        if (entry->sum == 0) {
            continue;
        }
        ExprPtr t = build_term(Term{to_int32(entry->sum), entry->factors});
        sum = sum ? make_node<Add>(std::move(sum), std::move(t)) : std::move(t);
    }
    return sum ? sum : make_node<Int>(0);
}

}  // namespace tavrelo
