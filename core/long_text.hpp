// Texts too long to write out: a text is kept as a tree of pieces (literal bytes and shared
// sub-texts), each piece knowing its length, its polynomial hash and the bytes at its edges.
// Equal texts are recognised by length and hash; the order of two texts is found by searching
// their longest common prefix with prefix hashes. A text shorter than the caller's limit stays a
// plain string, so that the usual short texts cost nothing extra.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tavrelo {

__extension__ typedef unsigned __int128 Wide;

// Polynomial hash modulo the prime 2^127 - 1 with a base drawn once per process: two different
// texts of length L collide with probability at most L / 2^127.
[[nodiscard]] Wide hash_base() noexcept;
[[nodiscard]] Wide mul_mod(Wide a, Wide b) noexcept;
[[nodiscard]] Wide add_mod(Wide a, Wide b) noexcept;

// What a text is, as far as joining texts needs: length, hash, base^length, and what the
// renderer's product separator looks at (the first byte, how the text ends).
struct Summary {
    Wide size = 0;
    Wide hash = 0;
    Wide power = 1;
    unsigned char first = 0;
    unsigned char last = 0;
    bool all_letters = true;            // every byte an ASCII letter (so also the empty text)
    bool backslash_before_run = false;  // the trailing run of letters follows a backslash
};

[[nodiscard]] Summary summary_of(std::string_view bytes);
// The summary of `a` followed by `b`. Throws std::bad_alloc beyond 2^100 bytes, far past any
// memory, where the hash would no longer tell texts apart reliably.
[[nodiscard]] Summary then(const Summary& a, const Summary& b);

class Rope;
using RopePtr = std::shared_ptr<const Rope>;

class Rope {
public:
    [[nodiscard]] static RopePtr literal(std::string_view bytes);
    // The concatenation of `parts`. Parts held nowhere else are spliced into the result, and
    // small neighbours are merged, which keeps chains of joins shallow.
    [[nodiscard]] static RopePtr join(std::vector<RopePtr> parts);

    // The same text as a tree of depth at most a few levels, for a rope of at most `most_bytes`
    // bytes (its leaves are shared, not copied); other ropes are returned as they are.
    [[nodiscard]] static RopePtr balanced(const RopePtr& rope, Wide most_bytes);

    [[nodiscard]] const Summary& summary() const { return sum_; }
    [[nodiscard]] Wide size() const { return sum_.size; }
    // The hash of the first `n` bytes (n <= size()).
    [[nodiscard]] Wide prefix_hash(Wide n) const;
    [[nodiscard]] unsigned char at(Wide i) const;
    // Appends the bytes [from, from + count) that exist.
    void copy(Wide from, std::size_t count, std::string& out) const;

    // Byte order: negative, zero or positive as `a` sorts before, with or after `b`.
    // `known_equal`: a length whose prefixes are known to agree.
    [[nodiscard]] static int compare(const Rope& a, const Rope& b, Wide known_equal = 0);

    struct Prefix {
        Wide size;
        Wide hash;
        Wide power;
    };

    // Public for std::make_shared; build ropes through literal() and join().
    Rope(Summary sum, std::string bytes, std::vector<RopePtr> parts, std::vector<Prefix> ends);
    ~Rope();
    Rope(const Rope&) = delete;
    Rope& operator=(const Rope&) = delete;

private:
    [[nodiscard]] bool leaf() const { return parts_.empty(); }
    [[nodiscard]] std::size_t part_at(Wide i) const;  // the part holding byte i < size()
    [[nodiscard]] Wide part_start(std::size_t k) const { return k == 0 ? 0 : ends_[k - 1].size; }
    static RopePtr grouped(std::vector<RopePtr> parts);

    Summary sum_;
    std::string bytes_;  // a leaf's bytes
    // An inner node's pieces, none empty. Mutable only so that the destructor can release a
    // deep rope without recursion.
    mutable std::vector<RopePtr> parts_;
    std::vector<Prefix> ends_;  // ends_[k]: parts_[0..k] together
    std::uint32_t depth_ = 0;   // levels of inner nodes from here down
};

// A text: the plain string while it is at most the limit it was made with, else a rope and the
// first bytes of it. Every text of one expansion is made with the same limit, so equal texts
// have equal forms.
class Text {
public:
    Text() = default;
    explicit Text(std::string plain) : text_(std::move(plain)) {}
    [[nodiscard]] static Text of(std::string text, std::size_t limit);
    [[nodiscard]] static Text of(const RopePtr& rope, std::size_t limit);

    [[nodiscard]] bool is_long() const { return rope_ != nullptr; }
    // The whole text when it is short.
    [[nodiscard]] const std::string& str() const { return text_; }
    [[nodiscard]] Wide size() const { return rope_ ? rope_->size() : text_.size(); }
    // The text as a rope, whichever form it has.
    [[nodiscard]] RopePtr rope() const { return rope_ ? rope_ : Rope::literal(text_); }
    [[nodiscard]] std::size_t hash_key() const;

    friend bool operator==(const Text& a, const Text& b) {
        if (!a.rope_ && !b.rope_) {
            return a.text_ == b.text_;
        }
        return a.rope_ && b.rope_ && same_long(a, b);
    }
    friend bool operator>(const Text& a, const Text& b) {
        if (!a.rope_ && !b.rope_) {
            return a.text_ > b.text_;
        }
        return compare_slow(a, b) > 0;
    }
    [[nodiscard]] static int compare(const Text& a, const Text& b) {
        return !a.rope_ && !b.rope_ ? a.text_.compare(b.text_) : compare_slow(a, b);
    }

private:
    static bool same_long(const Text& a, const Text& b);
    static int compare_slow(const Text& a, const Text& b);

    std::string text_;  // the whole text, or the first bytes of a long one
    RopePtr rope_;
    mutable RopePtr plain_rope_;  // a long plain text as a rope, once compared with a long one
};

}  // namespace tavrelo
