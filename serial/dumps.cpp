// Writing a tree: records in post-order, each distinct node once (see FORMAT.md).
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

class Writer {
public:
    std::string finish(const Expr& root) {
        out_.append(kMagic.begin(), kMagic.end());
        out_.push_back(static_cast<char>(kFormatVersion));
        walk(root);
        out_.push_back(static_cast<char>(kEnd));
        const std::uint32_t sum = checksum(out_);
        for (int i = 0; i < 4; ++i) {
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
                if (const auto found = written_.find(f.node); found != written_.end()) {
                    todo.pop_back();
                    out_.push_back(static_cast<char>(kReference));
                    varint(static_cast<std::uint32_t>(written_.size() - 1 - found->second));
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
        case ExprKind::Int: varint(zigzag(as<Int>(e).value)); break;
        case ExprKind::Rational:
            varint(zigzag(as<Rational>(e).num));
            varint(static_cast<std::uint32_t>(as<Rational>(e).den));
            break;
        case ExprKind::Var: {
            const std::string& name = as<Var>(e).name;
            if (name.size() > std::numeric_limits<std::uint32_t>::max()) {
                throw std::invalid_argument("変数名が長すぎて直列化できません（4 GiB 以上）");
            }
            varint(static_cast<std::uint32_t>(name.size()));
            out_.append(name);
            break;
        }
        default: break;
        }
        if (shared) {
            written_.emplace(&e, written_.size());
        }
    }

    // Unsigned LEB128: seven bits a byte, low bits first, high bit set on all but the last.
    void varint(std::uint32_t v) {
        while (v >= 0x80) {
            out_.push_back(static_cast<char>((v & 0x7f) | 0x80));
            v >>= 7;
        }
        out_.push_back(static_cast<char>(v));
    }

    std::string out_;
    std::unordered_map<const Expr*, std::size_t> written_;  // shared nodes: their table index
};

}  // namespace

std::string dumps(const Expr& root) { return Writer{}.finish(root); }

}  // namespace tavrelo
