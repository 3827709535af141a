// An open-addressing index from 64-bit hashes to small integers, the equality of candidates
// decided by the caller: one probe sequence over a flat array, no node per entry.
#pragma once

#include <cstdint>
#include <vector>

namespace tavrelo::fast {

class FlatIndex {
public:
    static constexpr std::uint32_t kAbsent = 0xFFFFFFFFu;

    // The value stored under `hash` for which `same(value)` holds, or kAbsent.
    template <class Same>
    [[nodiscard]] std::uint32_t find(std::uint64_t hash, Same&& same) const {
        if (slots_.empty()) {
            return kAbsent;
        }
        const std::size_t mask = slots_.size() - 1;
        for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
            const Slot& s = slots_[i];
            if (s.value == kAbsent) {
                return kAbsent;
            }
            if (s.hash == hash && same(s.value)) {
                return s.value;
            }
        }
    }

    // Adds a value known to be absent.
    void insert(std::uint64_t hash, std::uint32_t value) {
        if (2 * (count_ + 1) > slots_.size()) {
            grow();
        }
        place(hash, value);
        ++count_;
    }

private:
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t value = kAbsent;
    };

    void place(std::uint64_t hash, std::uint32_t value) {
        const std::size_t mask = slots_.size() - 1;
        std::size_t i = hash & mask;
        while (slots_[i].value != kAbsent) {
            i = (i + 1) & mask;
        }
        slots_[i] = Slot{hash, value};
    }

    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? 64 : 2 * old.size(), Slot{});
        for (const Slot& s : old) {
            if (s.value != kAbsent) {
                place(s.hash, s.value);
            }
        }
    }

    std::vector<Slot> slots_;
    std::size_t count_ = 0;
};

// Mixes 32-bit words into a 64-bit hash whose low bits are well spread.
[[nodiscard]] inline std::uint64_t hash_words(const std::uint32_t* words, std::size_t n) {
    std::uint64_t h = 0x243F6A8885A308D3ull ^ n;
    for (std::size_t i = 0; i < n; ++i) {
        h = (h ^ words[i]) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
    }
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 31);
}

}  // namespace tavrelo::fast
