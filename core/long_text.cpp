#include "long_text.hpp"

#include "latex_rules.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <random>
#include <utility>

namespace tavrelo {
namespace {

constexpr Wide kPrime = (Wide{1} << 127) - 1;
// Far beyond any memory, and short enough that L / 2^127 stays a negligible collision chance.
constexpr Wide kMostBytes = Wide{1} << 100;
// Leaves hold at most this many bytes, inner nodes at most this many parts: a prefix hash
// costs a few dozen multiplications per level.
constexpr std::size_t kChunk = 256;
constexpr std::size_t kMaxParts = 32;
// How many leading bytes a long text keeps as a string: most comparisons end there.
constexpr std::size_t kHead = 64;

using latex::is_ascii_letter;

Wide fold(Wide x) { return (x & kPrime) + (x >> 127); }

}  // namespace

Wide mul_mod(Wide a, Wide b) noexcept {
    const auto a0 = static_cast<std::uint64_t>(a);
    const auto a1 = static_cast<std::uint64_t>(a >> 64);
    const auto b0 = static_cast<std::uint64_t>(b);
    const auto b1 = static_cast<std::uint64_t>(b >> 64);
    const Wide low = Wide{a0} * b0;
    const Wide mid = Wide{a0} * b1 + Wide{a1} * b0;  // < 2^128: a1, b1 < 2^63
    const Wide lo = low + (mid << 64);
    const Wide hi = Wide{a1} * b1 + (mid >> 64) + (lo < low ? 1 : 0);
    // hi * 2^128 + lo, with 2^127 = 1 (mod p): 2 * hi + lo.
    Wide s = (hi << 1) + fold(lo);
    s = fold(s);
    return s >= kPrime ? s - kPrime : s;
}

Wide add_mod(Wide a, Wide b) noexcept {
    const Wide s = a + b;
    return s >= kPrime ? s - kPrime : s;
}

Wide hash_base() noexcept {
    static const Wide base = [] {
        std::random_device device;
        Wide b = 0;
        for (int i = 0; i < 4; ++i) {
            b = (b << 32) | device();
        }
        b %= kPrime;
        return b < 256 ? b + 257 : b;
    }();
    return base;
}

namespace {

// base^n for the lengths of leaves.
Wide power_of_length(std::size_t n) {
    static const std::vector<Wide> powers = [] {
        std::vector<Wide> p{1};
        for (std::size_t k = 1; k <= kChunk; ++k) {
            p.push_back(mul_mod(p.back(), hash_base()));
        }
        return p;
    }();
    if (n < powers.size()) {
        return powers[n];
    }
    Wide p = powers.back();
    for (std::size_t k = kChunk; k < n; ++k) {
        p = mul_mod(p, hash_base());
    }
    return p;
}

}  // namespace

Summary summary_of(std::string_view bytes) {
    Summary s;
    if (bytes.empty()) {
        return s;
    }
    const Wide b = hash_base();
    for (const char c : bytes) {
        s.hash = add_mod(mul_mod(s.hash, b), static_cast<unsigned char>(c));
    }
    s.power = power_of_length(bytes.size());
    s.size = bytes.size();
    s.first = static_cast<unsigned char>(bytes.front());
    s.last = static_cast<unsigned char>(bytes.back());
    std::size_t run = bytes.size();
    while (run > 0 && is_ascii_letter(static_cast<unsigned char>(bytes[run - 1]))) {
        --run;
    }
    s.all_letters = run == 0;
    s.backslash_before_run = run > 0 && bytes[run - 1] == '\\';
    return s;
}

Summary then(const Summary& a, const Summary& b) {
    if (a.size == 0) {
        return b;
    }
    if (b.size == 0) {
        return a;
    }
    if (a.size > kMostBytes || b.size > kMostBytes - a.size) {
        throw std::bad_alloc();  // the documented "cannot fit in memory" error
    }
    Summary s;
    s.size = a.size + b.size;
    s.hash = add_mod(mul_mod(a.hash, b.power), b.hash);
    s.power = mul_mod(a.power, b.power);
    s.first = a.first;
    s.last = b.last;
    s.all_letters = a.all_letters && b.all_letters;
    s.backslash_before_run = b.all_letters ? a.backslash_before_run : b.backslash_before_run;
    return s;
}

// ---- ropes ----

Rope::Rope(Summary sum, std::string bytes, std::vector<RopePtr> parts, std::vector<Prefix> ends)
    : sum_(sum), bytes_(std::move(bytes)), parts_(std::move(parts)), ends_(std::move(ends)) {
    for (const RopePtr& p : parts_) {
        depth_ = std::max(depth_, p->depth_ + 1);
    }
}

RopePtr Rope::balanced(const RopePtr& rope, Wide most_bytes) {
    constexpr std::uint32_t kShallow = 4;
    if (rope->depth_ <= kShallow || rope->size() > most_bytes) {
        return rope;
    }
    std::vector<RopePtr> leaves;
    std::vector<const RopePtr*> pending{&rope};
    while (!pending.empty()) {
        const RopePtr& r = *pending.back();
        pending.pop_back();
        if (r->leaf()) {
            leaves.push_back(r);
            continue;
        }
        for (auto it = r->parts_.rbegin(); it != r->parts_.rend(); ++it) {
            pending.push_back(&*it);
        }
    }
    return grouped(std::move(leaves));
}

RopePtr Rope::literal(std::string_view bytes) {
    if (bytes.size() <= kChunk) {
        return std::make_shared<const Rope>(summary_of(bytes), std::string(bytes),
                                            std::vector<RopePtr>{}, std::vector<Prefix>{});
    }
    std::vector<RopePtr> chunks;
    for (std::size_t at = 0; at < bytes.size(); at += kChunk) {
        chunks.push_back(literal(bytes.substr(at, kChunk)));
    }
    return grouped(std::move(chunks));
}

RopePtr Rope::join(std::vector<RopePtr> parts) {
    std::vector<RopePtr> flat;
    flat.reserve(parts.size());
    const auto push = [&flat](const RopePtr& p) {
        if (!flat.empty() && flat.back()->leaf() && p->leaf() &&
            flat.back()->bytes_.size() + p->bytes_.size() <= kChunk) {
            flat.back() = literal(flat.back()->bytes_ + p->bytes_);
        } else {
            flat.push_back(p);
        }
    };
    for (RopePtr& p : parts) {
        if (p->size() == 0) {
            continue;
        }
        if (!p->leaf() && p.use_count() == 1 && flat.size() + p->parts_.size() <= kMaxParts) {
            for (const RopePtr& q : p->parts_) {
                push(q);
            }
        } else {
            push(p);
        }
    }
    return grouped(std::move(flat));
}

// One node over `parts` (all non-empty), or a tree of nodes when they are too many.
RopePtr Rope::grouped(std::vector<RopePtr> parts) {
    while (parts.size() > kMaxParts) {
        std::vector<RopePtr> upper;
        for (std::size_t at = 0; at < parts.size(); at += kMaxParts) {
            const std::size_t end = std::min(parts.size(), at + kMaxParts);
            upper.push_back(grouped(std::vector<RopePtr>(parts.begin() + static_cast<long>(at),
                                                         parts.begin() + static_cast<long>(end))));
        }
        parts = std::move(upper);
    }
    if (parts.empty()) {
        return literal({});
    }
    if (parts.size() == 1) {
        return std::move(parts.front());
    }
    Summary sum;
    std::vector<Prefix> ends;
    ends.reserve(parts.size());
    for (const RopePtr& p : parts) {
        sum = then(sum, p->sum_);
        ends.push_back(Prefix{sum.size, sum.hash, sum.power});
    }
    if (sum.size <= kChunk) {  // only leaves can be this short
        std::string bytes;
        for (const RopePtr& p : parts) {
            bytes += p->bytes_;
        }
        return std::make_shared<const Rope>(sum, std::move(bytes), std::vector<RopePtr>{},
                                            std::vector<Prefix>{});
    }
    return std::make_shared<const Rope>(sum, std::string{}, std::move(parts), std::move(ends));
}

// Ropes as deep as the trees they describe are released from an explicit stack: parts that die
// with this one hand over their own parts before they go.
Rope::~Rope() {
    if (parts_.empty()) {
        return;
    }
    std::vector<RopePtr> dying = std::move(parts_);
    while (!dying.empty()) {
        RopePtr p = std::move(dying.back());
        dying.pop_back();
        if (p.use_count() == 1 && !p->parts_.empty()) {
            for (RopePtr& q : p->parts_) {
                dying.push_back(std::move(q));
            }
            p->parts_.clear();
        }
    }
}

std::size_t Rope::part_at(Wide i) const {
    const auto it = std::upper_bound(ends_.begin(), ends_.end(), i,
                                     [](Wide v, const Prefix& e) { return v < e.size; });
    return static_cast<std::size_t>(it - ends_.begin());
}

Wide Rope::prefix_hash(Wide n) const {
    Wide h = 0;
    const Rope* r = this;
    while (n > 0) {
        if (n >= r->size()) {
            return add_mod(mul_mod(h, r->sum_.power), r->sum_.hash);
        }
        if (r->leaf()) {
            const Wide b = hash_base();
            for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
                h = add_mod(mul_mod(h, b), static_cast<unsigned char>(r->bytes_[i]));
            }
            return h;
        }
        const std::size_t k = r->part_at(n);
        if (k > 0) {
            const Prefix& before = r->ends_[k - 1];
            h = add_mod(mul_mod(h, before.power), before.hash);
            n -= before.size;
        }
        r = r->parts_[k].get();
    }
    return h;
}

unsigned char Rope::at(Wide i) const {
    const Rope* r = this;
    while (!r->leaf()) {
        const std::size_t k = r->part_at(i);
        i -= r->part_start(k);
        r = r->parts_[k].get();
    }
    return static_cast<unsigned char>(r->bytes_[static_cast<std::size_t>(i)]);
}

void Rope::copy(Wide from, std::size_t count, std::string& out) const {
    const Wide end = std::min<Wide>(size(), from + count);
    if (from >= end) {
        return;
    }
    std::vector<std::pair<const Rope*, Wide>> pending{{this, 0}};  // (rope, where it starts)
    while (!pending.empty()) {
        const auto [r, start] = pending.back();
        pending.pop_back();
        if (r->leaf()) {
            const Wide lo = std::max(from, start) - start;
            const Wide hi = std::min(end, start + r->size()) - start;
            out.append(r->bytes_, static_cast<std::size_t>(lo), static_cast<std::size_t>(hi - lo));
            continue;
        }
        const std::size_t first = from > start ? r->part_at(from - start) : 0;
        const std::size_t last = r->part_at(std::min(end - start, r->size()) - 1);
        for (std::size_t k = last + 1; k-- > first;) {
            pending.emplace_back(r->parts_[k].get(), start + r->part_start(k));
        }
    }
}

int Rope::compare(const Rope& a, const Rope& b, Wide known_equal) {
    if (&a == &b || (a.size() == b.size() && a.sum_.hash == b.sum_.hash)) {
        return 0;
    }
    const Wide shorter = std::min(a.size(), b.size());
    const auto agree = [&](Wide n) { return a.prefix_hash(n) == b.prefix_hash(n); };
    // Gallop from the agreeing prefix, then halve: the cost grows with the log of the common
    // prefix, not of the texts.
    Wide lo = std::min(known_equal, shorter);
    Wide hi = shorter + 1;  // the shortest length known to disagree
    for (Wide step = 64;; step *= 2) {
        const Wide probe = std::min(shorter, lo + step);
        if (probe == lo) {
            break;
        }
        if (!agree(probe)) {
            hi = probe;
            break;
        }
        lo = probe;
    }
    while (hi - lo > 1) {
        const Wide mid = lo + (hi - lo) / 2;
        (agree(mid) ? lo : hi) = mid;
    }
    if (lo == shorter) {  // one is a prefix of the other
        return a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
    }
    const unsigned char x = a.at(lo);
    const unsigned char y = b.at(lo);
    return x < y ? -1 : (x > y ? 1 : 0);
}

// ---- texts ----

Text Text::of(std::string text, std::size_t limit) {
    if (text.size() <= limit) {
        return Text(std::move(text));
    }
    Text t;
    t.rope_ = Rope::literal(text);
    text.resize(std::min(kHead, limit));
    t.text_ = std::move(text);
    return t;
}

Text Text::of(const RopePtr& rope, std::size_t limit) {
    Text t;
    if (rope->size() <= limit) {
        rope->copy(0, static_cast<std::size_t>(rope->size()), t.text_);
        return t;
    }
    rope->copy(0, std::min(kHead, limit), t.text_);
    t.rope_ = rope;
    return t;
}

std::size_t Text::hash_key() const {
    if (!rope_) {
        return std::hash<std::string>{}(text_);
    }
    const Wide h = rope_->summary().hash ^ (rope_->size() * 0x9E3779B97F4A7C15ull);
    return static_cast<std::size_t>(h ^ (h >> 64));
}

bool Text::same_long(const Text& a, const Text& b) {
    return a.rope_ == b.rope_ || (a.rope_->size() == b.rope_->size() &&
                                  a.rope_->summary().hash == b.rope_->summary().hash);
}

int Text::compare_slow(const Text& a, const Text& b) {
    if (!a.rope_) {
        return -compare_slow(b, a);
    }
    // The heads first: most texts differ early.
    const std::size_t both = std::min(a.text_.size(), b.text_.size());
    const int head = std::memcmp(a.text_.data(), b.text_.data(), both);
    if (head != 0) {
        return head;
    }
    if (b.rope_) {
        return Rope::compare(*a.rope_, *b.rope_, both);
    }
    // A short text against a longer one: write out as much of the long one, or, when that is
    // a lot, compare by hashes.
    constexpr std::size_t kMostWritten = 4096;
    if (b.text_.size() > kMostWritten) {
        if (!b.plain_rope_) {
            b.plain_rope_ = Rope::literal(b.text_);
        }
        return Rope::compare(*a.rope_, *b.plain_rope_, both);
    }
    std::string prefix;
    a.rope_->copy(0, b.text_.size(), prefix);
    const int c = prefix.compare(b.text_);
    return c != 0 ? c : 1;  // `b` is a proper prefix of `a`
}

}  // namespace tavrelo
