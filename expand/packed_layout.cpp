#include "expand/packed_layout.hpp"

#include <algorithm>
#include <bit>
#include <utility>

namespace tavrelo::fast {

void FieldMap::begin() {
    if (++session_ == 0) {  // after 2^32 sessions: no stale stamp may look current
        std::fill(stamp_.begin(), stamp_.end(), 0);
        session_ = 1;
    }
    handles_.clear();
}

std::uint32_t FieldMap::field_of(std::uint32_t id, std::uint32_t handle) {
    if (id >= stamp_.size()) {
        const std::size_t size = std::max<std::size_t>(id + 1, 2 * stamp_.size());
        stamp_.resize(size, 0);
        field_of_id_.resize(size, 0);
    }
    if (stamp_[id] != session_) {
        stamp_[id] = session_;
        field_of_id_[id] = static_cast<std::uint32_t>(handles_.size());
        handles_.push_back(handle);
    }
    return field_of_id_[id];
}

void PackedLayout::begin() {
    fields.begin();
    most_left.clear();
    most_right.clear();
    seen_.clear();
    seen_stamp_ = 0;
}

void PackedLayout::add_field() {
    most_left.push_back(0);
    most_right.push_back(0);
    seen_.push_back(0);
}

bool PackedLayout::assign(const Bases& bases, const std::vector<Summand>& side,
                          std::vector<int>& most, bool& mixed) {
    for (const Summand& s : side) {
        ++seen_stamp_;
        for (const Power& p : s.powers) {
            if (p.exp < 0 || !bases.plain(p.handle)) {
                return false;
            }
            const std::uint32_t f = fields.field_of(p.id, p.handle);
            if (f == most_left.size()) {
                add_field();
            }
            if (seen_[f] == seen_stamp_) {
                return false;
            }
            mixed = mixed || fields.handle(f) != p.handle;
            seen_[f] = seen_stamp_;
            most[f] = std::max(most[f], p.exp);
        }
    }
    return true;
}

void PackedLayout::assign(const PackedValue& value, std::vector<int>& most, bool& mixed) {
    for (std::size_t k = 0; k < value.ids.size(); ++k) {
        const std::uint32_t f = fields.field_of(value.ids[k], value.handles[k]);
        if (f == most_left.size()) {
            add_field();
        }
        mixed = mixed || fields.handle(f) != value.handles[k];
        most[f] = std::max(most[f], value.most[k]);
    }
}

std::int64_t PackedLayout::most_product_exponent(bool square) {
    if (square) {
        most_right = most_left;
    }
    std::int64_t most = 1;
    for (std::size_t f = 0; f < most_left.size(); ++f) {
        most = std::max<std::int64_t>(most, std::int64_t{most_left[f]} + most_right[f]);
    }
    return most;
}

bool PackedLayout::lay_out(std::int64_t most) {
    bits_ = static_cast<unsigned>(std::bit_width(static_cast<std::uint64_t>(most)));
    const unsigned per_word = 64 / bits_;
    const std::size_t count = fields.size();
    words_ = std::max<std::size_t>(1, (count + per_word - 1) / per_word);
    if (words_ > 2) {
        return false;
    }
    // Word and shift of each field, once, instead of a division for every exponent.
    word_of_field_.resize(count);
    shift_of_field_.resize(count);
    for (std::size_t f = 0; f < count; ++f) {
        word_of_field_[f] = static_cast<std::uint8_t>(f / per_word);
        shift_of_field_[f] = static_cast<std::uint8_t>(f % per_word * bits_);
    }
    return true;
}

void PackedLayout::pack(const std::vector<Summand>& side, std::vector<std::uint64_t>& words) const {
    words.assign(side.size() * words_, 0);
    for (std::size_t i = 0; i < side.size(); ++i) {
        std::uint64_t* w = &words[i * words_];
        for (const Power& p : side[i].powers) {
            const std::uint32_t f = fields.at(p.id);
            w[word_of_field_[f]] += static_cast<std::uint64_t>(p.exp) << shift_of_field_[f];
        }
    }
}

// The value's fields come first here, in its order, when it was assigned first.
const std::uint64_t* PackedLayout::repack(const PackedValue& value,
                                          std::vector<std::uint64_t>& words) const {
    const std::size_t count = value.coefs.size();
    bool same_fields = true;
    for (std::size_t f = 0; f < value.ids.size() && same_fields; ++f) {
        same_fields = fields.at(value.ids[f]) == f;
    }
    if (same_fields && value.bits == bits_ && value.words == words_) {
        return value.keys.data();
    }
    words.assign(count * words_, 0);
    if (same_fields && value.bits == bits_) {  // the same fields, only more words
        for (std::size_t i = 0; i < count; ++i) {
            std::copy_n(&value.keys[i * value.words], value.words, &words[i * words_]);
        }
        return words.data();
    }
    const unsigned per_word = 64 / value.bits;
    const std::uint64_t mask = (std::uint64_t{1} << value.bits) - 1;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> from(value.ids.size());
    for (std::size_t f = 0; f < value.ids.size(); ++f) {
        from[f] = {static_cast<std::uint32_t>(f / per_word),
                   static_cast<std::uint32_t>(f % per_word * value.bits)};
    }
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint64_t* key = &value.keys[i * value.words];
        std::uint64_t* w = &words[i * words_];
        for (std::size_t f = 0; f < from.size(); ++f) {
            const std::uint64_t exp = (key[from[f].first] >> from[f].second) & mask;
            const std::uint32_t g = fields.at(value.ids[f]);
            w[word_of_field_[g]] |= exp << shift_of_field_[g];
        }
    }
    return words.data();
}

void PackedLayout::fill(const Bases& bases, PackedValue& out, const std::vector<int>& most) const {
    out.handles = fields.handles();
    out.ids.resize(out.handles.size());
    for (std::size_t f = 0; f < out.handles.size(); ++f) {
        out.ids[f] = bases.id(out.handles[f]);
    }
    out.most = most;
    out.bits = bits_;
    out.words = words_;
}

void unpack(const PackedValue& value, std::vector<Summand>& out) {
    const unsigned per_word = 64 / value.bits;
    const std::uint64_t mask = (std::uint64_t{1} << value.bits) - 1;
    const std::size_t fields = value.ids.size();
    std::vector<std::pair<std::uint32_t, std::uint32_t>> at(fields);
    for (std::size_t f = 0; f < fields; ++f) {
        at[f] = {static_cast<std::uint32_t>(f / per_word),
                 static_cast<std::uint32_t>(f % per_word * value.bits)};
    }
    std::uint64_t lowest = 0;  // the lowest bit of every field
    for (unsigned f = 0; f < per_word; ++f) {
        lowest |= std::uint64_t{1} << (f * value.bits);
    }
    out.clear();
    out.reserve(value.coefs.size());
    for (std::size_t k = 0; k < value.coefs.size(); ++k) {
        const std::uint64_t* key = &value.keys[k * value.words];
        std::size_t live = 0;  // non-zero fields, each folded onto its lowest bit
        for (std::size_t w = 0; w < value.words; ++w) {
            std::uint64_t folded = key[w];
            for (unsigned b = 1; b < value.bits; ++b) {
                folded |= key[w] >> b;
            }
            live += static_cast<std::size_t>(std::popcount(folded & lowest));
        }
        Summand s{value.coefs[k], kNoKey, {}};
        s.powers.reserve(live);
        for (std::size_t f = 0; f < fields; ++f) {
            const auto exp = static_cast<int>((key[at[f].first] >> at[f].second) & mask);
            if (exp != 0) {
                s.powers.push_back(Power{value.handles[f], value.ids[f], exp});
            }
        }
        out.push_back(std::move(s));
    }
}

}  // namespace tavrelo::fast
