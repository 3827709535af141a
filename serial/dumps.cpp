// Writing a tree: records in post-order, each distinct node once (see FORMAT.md).
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "core/children.hpp"
#include "serial/format.hpp"
#include "serial/serial.hpp"

namespace tavrelo {
namespace {

using namespace serial;

void put_varint(std::string& out, std::uint32_t v) {
    while (v >= 0x80) {
        out.push_back(static_cast<char>((v & 0x7f) | 0x80));
        v >>= 7;
    }
    out.push_back(static_cast<char>(v));
}

// Reads a varint that put_varint wrote.
std::uint32_t get_varint(const std::string& in, std::size_t& at) {
    std::uint32_t v = 0;
    for (int shift = 0;; shift += 7) {
        const auto b = static_cast<std::uint8_t>(in[at++]);
        v |= std::uint32_t{b & 0x7fu} << shift;
        if ((b & 0x80) == 0) {
            return v;
        }
    }
}

class Writer {
public:
    std::string finish(const Expr& root) {
        out_.append(kMagic.begin(), kMagic.end());
        out_.push_back(static_cast<char>(kFormatVersion));
        walk(root);
        drop_unreferenced_marks();
        out_.push_back(static_cast<char>(kEnd));
        const std::uint32_t sum = checksum(out_);
        for (std::size_t i = 0; i < kChecksumBytes; ++i) {
            out_.push_back(static_cast<char>(sum >> (8 * i)));
        }
        return std::move(out_);
    }

private:
    // A node to write; `shared`: reachable through several handles, so it may be met again.
    struct Frame {
        const Expr* node;
        bool shared;
        bool children_written;
    };

    void walk(const Expr& root) {
        std::vector<Frame> todo{{&root, false, false}};
        while (!todo.empty()) {
            const Frame f = todo.back();
            if (!f.children_written && f.shared) {
                if (const auto found = table_.find(f.node); found != table_.end()) {
                    todo.pop_back();
                    out_.push_back(static_cast<char>(kReference));
                    put_varint(out_,
                               static_cast<std::uint32_t>(referenced_.size() - 1 - found->second));
                    referenced_[found->second] = true;
                    continue;
                }
            }
            const Children c = children_of(*f.node);
            if (!f.children_written && c.first != nullptr) {
                todo.back().children_written = true;
                if (c.second != nullptr) {
                    todo.push_back({c.second->get(), c.second->use_count() > 1, false});
                }
                todo.push_back({c.first->get(), c.first->use_count() > 1, false});
                continue;
            }
            todo.pop_back();
            record(*f.node, f.shared);
        }
    }

    void record(const Expr& e, bool shared) {
        out_.push_back(static_cast<char>(e.kind() | (shared ? kSharedBit : 0)));
        switch (kind_of(e)) {
        case ExprKind::Int: put_varint(out_, zigzag(as<Int>(e).value)); break;
        case ExprKind::Rational:
            put_varint(out_, zigzag(as<Rational>(e).num));
            put_varint(out_, static_cast<std::uint32_t>(as<Rational>(e).den));
            break;
        case ExprKind::Var: {
            const std::string& name = as<Var>(e).name;
            if (name.size() > std::numeric_limits<std::uint32_t>::max()) {
                throw std::invalid_argument("変数名が長すぎて直列化できません（4 GiB 以上）");
            }
            put_varint(out_, static_cast<std::uint32_t>(name.size()));
            out_.append(name);
            break;
        }
        default: break;
        }
        if (shared) {
            table_.emplace(&e, referenced_.size());
            referenced_.push_back(false);
        }
    }

    // A node is marked when it has several owners, which may lie outside the tree (a Python
    // object, another tree). Marks that no reference used are cleared here, and references
    // renumbered, so that the bytes depend on the tree alone. Records only shrink, so the
    // rewrite runs in place, once over the bytes.
    void drop_unreferenced_marks() {
        if (std::find(referenced_.begin(), referenced_.end(), false) == referenced_.end()) {
            return;
        }
        std::vector<std::uint32_t> renumbered(referenced_.size());
        std::uint32_t old_count = 0;
        std::uint32_t new_count = 0;
        std::size_t read = kHeaderBytes;
        std::size_t write = kHeaderBytes;
        std::string varint_bytes;
        const auto move_from = [&](std::size_t start) {  // bytes [start, read) to `write`
            std::copy(out_.begin() + static_cast<std::ptrdiff_t>(start),
                      out_.begin() + static_cast<std::ptrdiff_t>(read),
                      out_.begin() + static_cast<std::ptrdiff_t>(write));
            write += read - start;
        };
        const auto copy_varint = [&] {
            const std::size_t start = read;
            get_varint(out_, read);
            move_from(start);
        };
        while (read < out_.size()) {
            const auto tag = static_cast<std::uint8_t>(out_[read++]);
            if (tag == kReference) {
                const std::uint32_t target = old_count - 1 - get_varint(out_, read);
                varint_bytes.clear();
                put_varint(varint_bytes, new_count - 1 - renumbered[target]);
                out_[write++] = static_cast<char>(tag);
                std::copy(varint_bytes.begin(), varint_bytes.end(),
                          out_.begin() + static_cast<std::ptrdiff_t>(write));
                write += varint_bytes.size();
                continue;
            }
            std::uint8_t kept = tag;
            if ((tag & kSharedBit) != 0) {
                if (referenced_[old_count]) {
                    renumbered[old_count] = new_count++;
                } else {
                    kept = tag & ~kSharedBit;
                }
                ++old_count;
            }
            out_[write++] = static_cast<char>(kept);
            switch (static_cast<ExprKind>(tag & (kSharedBit - 1))) {
            case ExprKind::Int: copy_varint(); break;
            case ExprKind::Rational:
                copy_varint();
                copy_varint();
                break;
            case ExprKind::Var: {
                const std::size_t start = read;
                read += get_varint(out_, read);
                move_from(start);
                break;
            }
            default: break;
            }
        }
        out_.resize(write);
    }

    std::string out_;
    std::unordered_map<const Expr*, std::uint32_t> table_;  // marked nodes: their table index
    std::vector<bool> referenced_;                          // by table index
};

}  // namespace

std::string dumps(const Expr& root) { return Writer{}.finish(root); }

}  // namespace tavrelo
