// From a tree to a straight-line program: one post-order pass over the distinct nodes (explicit
// stacks, so depth costs heap only), constant folding, value numbering, then slot assignment.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <stdexcept>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/children.hpp"
#include "evaluate/code.hpp"
#include "evaluate/elementary.hpp"

namespace tavrelo::detail {
namespace {

// A node's value while compiling: a constant, or the id of a variable or an instruction's result
// (variables first, then one id per instruction).
struct Value {
    bool constant;
    double k;
    std::uint32_t id;
};

Value constant(double k) { return {true, k, 0}; }

// Every bit of the key reaches the low bits that pick the slot.
std::uint64_t mix(std::uint64_t h) {
    h = (h ^ (h >> 30U)) * 0xBF58476D1CE4E5B9ULL;
    h = (h ^ (h >> 27U)) * 0x94D049BB133111EBULL;
    return h ^ (h >> 31U);
}

std::uint64_t hash_of(const Instruction& in) {
    std::uint64_t h = mix((std::uint64_t{in.a} << 32U) | in.b);
    h = mix(h ^ std::bit_cast<std::uint64_t>(in.k));
    return mix(h ^ (static_cast<unsigned>(in.op) << 8U) ^ static_cast<unsigned>(in.mode));
}

bool same_work(const Instruction& p, const Instruction& q) {
    return p.op == q.op && p.mode == q.mode && p.a == q.a && p.b == q.b &&
           std::bit_cast<std::uint64_t>(p.k) == std::bit_cast<std::uint64_t>(q.k);
}

// Value numbering: instructions that compute the same operation on the same operands share one
// result. An open-addressing table of instruction positions, read back from the program: a
// million-node tree makes a million entries, and node-based maps spend most of the compile
// allocating them.
class Numbering {
public:
    // The position of an earlier instruction that does the work of `in`, or `position` after
    // remembering it for `in`.
    std::uint32_t find_or_add(const Instruction& in, std::uint32_t position,
                              const std::vector<Instruction>& program) {
        if (2 * (used_ + 1) > table_.size()) {
            grow();
        }
        const auto tag = static_cast<std::uint32_t>(hash_of(in));
        const std::size_t mask = table_.size() - 1;
        for (std::size_t i = tag & mask;; i = (i + 1) & mask) {
            Entry& entry = table_[i];
            if (entry.position == 0) {
                entry = {position + 1, tag};
                ++used_;
                return position;
            }
            if (entry.tag == tag && same_work(program[entry.position - 1], in)) {
                return entry.position - 1;
            }
        }
    }

private:
    // The hash (its low half, which also picks the slot) travels with the position, so that a
    // probe rarely reads the program, far away in memory, to reject an entry.
    struct Entry {
        std::uint32_t position;  // + 1; 0 when free
        std::uint32_t tag;
    };

    void grow() {
        std::vector<Entry> old(std::max<std::size_t>(64, 2 * table_.size()), Entry{0, 0});
        old.swap(table_);
        const std::size_t mask = table_.size() - 1;
        for (const Entry& entry : old) {
            if (entry.position != 0) {
                std::size_t i = entry.tag & mask;
                while (table_[i].position != 0) {
                    i = (i + 1) & mask;
                }
                table_[i] = entry;
            }
        }
    }

    std::vector<Entry> table_;
    std::size_t used_ = 0;
};

Op unary_op(ExprKind kind) {
    switch (kind) {
    case ExprKind::Neg: return Op::neg;
    case ExprKind::Sqrt: return Op::sqrt;
    case ExprKind::Cbrt: return Op::cbrt;
    case ExprKind::Sin: return Op::sin;
    case ExprKind::Cos: return Op::cos;
    case ExprKind::Tan: return Op::tan;
    default: return Op::log;
    }
}

Op binary_op(ExprKind kind) {
    switch (kind) {
    case ExprKind::Add: return Op::add;
    case ExprKind::Mul: return Op::mul;
    case ExprKind::Div: return Op::div;
    default: return Op::pow;
    }
}

// An exponent taken by repeated squaring: an integer that fits 32 bits.
bool is_int_exponent(double k) {
    return k == std::trunc(k) && k >= -2147483648.0 && k <= 2147483647.0;
}

class Compiler {
public:
    explicit Compiler(const std::vector<std::string>& variables) {
        code_.variables = static_cast<std::uint32_t>(variables.size());
        for (std::uint32_t i = 0; i < code_.variables; ++i) {
            index_.emplace(variables[i], i);
        }
    }

    Code run(const ExprPtr& root) {
        Value result = walk(root);
        code_.constant_result = result.constant;
        code_.constant = result.k;
        if (!result.constant) {
            result.id = fuse(result.id);
        }
        assign_slots(result);
        return std::move(code_);
    }

private:
    struct Frame {
        const ExprPtr* node;
        bool children_done;
    };

    Value walk(const ExprPtr& root) {
        std::vector<Frame> todo{{&root, false}};
        std::vector<Value> done;
        while (!todo.empty()) {
            const Frame frame = todo.back();
            todo.pop_back();
            const ExprPtr& node = *frame.node;
            const Children children = children_of(*node);
            if (!frame.children_done) {
                if (children.first == nullptr) {
                    done.push_back(leaf(*node));
                    continue;
                }
                // Only a node with several owners can be reached twice; the rest skip the memo.
                if (node.use_count() > 1) {
                    if (const auto hit = memo_.find(node.get()); hit != memo_.end()) {
                        done.push_back(hit->second);
                        continue;
                    }
                }
                todo.push_back({frame.node, true});
                if (children.second != nullptr) {
                    todo.push_back({children.second, false});
                }
                todo.push_back({children.first, false});
                continue;
            }
            Value result{};
            if (children.second == nullptr) {
                const Value a = done.back();
                done.pop_back();
                result = combine(*node, unary_op(kind_of(*node)), a, constant(0));
            } else {
                const Value b = done.back();
                done.pop_back();
                const Value a = done.back();
                done.pop_back();
                result = binary(*node, a, b);
            }
            if (node.use_count() > 1) {
                memo_.emplace(node.get(), result);
            }
            done.push_back(result);
        }
        return done.back();
    }

    Value leaf(const Expr& e) const {
        switch (kind_of(e)) {
        case ExprKind::Int: return constant(as<Int>(e).value);
        case ExprKind::Rational: {
            const auto& r = as<Rational>(e);
            return constant(static_cast<double>(r.num) / static_cast<double>(r.den));
        }
        case ExprKind::Pi: return constant(std::numbers::pi);
        case ExprKind::E: return constant(std::numbers::e);
        default: break;
        }
        const std::string& name = as<Var>(e).name;
        const auto it = index_.find(name);
        if (it == index_.end()) {
            throw std::invalid_argument("変数 " + printable(name) + " の値が与えられていません");
        }
        return {false, 0, it->second};
    }

    Value binary(const Expr& e, Value a, Value b) {
        const Op op = binary_op(kind_of(e));
        if (op == Op::pow) {
            if (kind_of(*as<Pow>(e).base) == ExprKind::E) {
                return combine(e, Op::exp, b, constant(0));
            }
            if (b.constant && is_int_exponent(b.k)) {
                return combine(e, Op::pow_int, a, b);
            }
        }
        return combine(e, op, a, b);
    }

    // The value of `op` on `a` (and `b` for binary operations; pow_int's exponent is b.k).
    Value combine(const Expr& e, Op op, Value a, Value b) {
        const bool unary = op < Op::add || op == Op::pow_int;
        Instruction in{op, Mode::a, Undefined::none, 0, a.id, 0, 0, &e};
        if (op == Op::pow_int) {
            in.k = b.k;
        } else if (!unary) {
            in.mode = a.constant ? Mode::kb : (b.constant ? Mode::ak : Mode::ab);
            in.k = a.constant ? a.k : b.k;
            in.b = b.id;
        }
        if (a.constant && (unary || b.constant)) {
            Undefined why = Undefined::none;
            const double v = apply(in, a.k, b.k, why);
            if (why == Undefined::none) {
                return constant(v);
            }
            // Not folded: the array runner gives NaN here, the point runner the error.
            return emit({Op::undefined, Mode::a, why, 0, 0, 0, 0, &e}, false);
        }
        // a + b and a * b are exact whichever comes first: one order serves both.
        if (op == Op::add || op == Op::mul) {
            if (in.mode == Mode::kb) {
                in.mode = Mode::ak;
                in.a = b.id;
            } else if (in.mode == Mode::ab && in.b < in.a) {
                std::swap(in.a, in.b);
            }
        }
        return emit(in, true);
    }

    Value emit(const Instruction& in, bool shareable) {
        auto& program = code_.instructions;
        const auto position = static_cast<std::uint32_t>(program.size());
        if (shareable) {
            const std::uint32_t found = numbered_.find_or_add(in, position, program);
            if (found != position) {
                return {false, 0, code_.variables + found};
            }
        }
        program.push_back(in);
        program.back().out = code_.variables + position;
        return {false, 0, program.back().out};
    }

    // A sum whose operand is a term times a constant, read by that sum alone, becomes one
    // add_scaled: the same roundings in one pass over the block instead of two. Returns the
    // result's new id.
    std::uint32_t fuse(std::uint32_t result_id) {
        auto& program = code_.instructions;
        const std::uint32_t nv = code_.variables;
        std::vector<std::uint32_t> uses(nv + program.size(), 0);
        for (const Instruction& in : program) {
            for_each_operand(in, [&](std::uint32_t id) { ++uses[id]; });
        }
        std::vector<bool> dead(program.size(), false);
        const auto scaled = [&](std::uint32_t id) {
            return id >= nv && uses[id] == 1 && program[id - nv].op == Op::mul &&
                   program[id - nv].mode == Mode::ak;
        };
        for (Instruction& in : program) {
            if (in.op != Op::add || in.mode != Mode::ab || in.a == in.b) {
                continue;
            }
            if (scaled(in.a)) {
                std::swap(in.a, in.b);  // a + b is b + a exactly
            }
            if (scaled(in.b)) {
                const Instruction& term = program[in.b - nv];
                dead[in.b - nv] = true;
                in.op = Op::add_scaled;
                in.k = term.k;
                in.b = term.a;
            }
        }
        // Drop the fused products and renumber.
        std::vector<std::uint32_t> id(nv + program.size());
        for (std::uint32_t v = 0; v < nv; ++v) {
            id[v] = v;
        }
        std::size_t kept = 0;
        for (std::size_t i = 0; i < program.size(); ++i) {
            if (dead[i]) {
                continue;
            }
            Instruction in = program[i];
            if (in.op != Op::undefined) {
                in.a = id[in.a];
                in.b = id[in.b];
            }
            id[nv + i] = static_cast<std::uint32_t>(nv + kept);
            in.out = id[nv + i];
            program[kept++] = in;
        }
        program.resize(kept);
        return id[result_id];
    }

    // Ids become slots. An operand's slot is free again after its last reader, and that reader
    // may write its result over it (the loops read each element before writing it), except
    // pow_int, which still reads its base after writing.
    void assign_slots(const Value& result) {
        const std::uint32_t nv = code_.variables;
        const std::size_t total = nv + code_.instructions.size();
        const std::uint32_t result_id = result.constant ? UINT32_MAX : result.id;
        std::vector<std::size_t> last_use(total, 0);
        std::vector<bool> used(total, false);
        for (std::size_t i = 0; i < code_.instructions.size(); ++i) {
            for_each_operand(code_.instructions[i], [&](std::uint32_t id) {
                last_use[id] = i;
                used[id] = true;
            });
        }
        std::vector<std::uint32_t> slot(total);
        for (std::uint32_t v = 0; v < nv; ++v) {
            slot[v] = v;
        }
        std::vector<std::uint32_t> free;
        std::uint32_t next = nv;
        const auto release = [&](const Instruction& in, std::size_t i) {
            for_each_operand(in, [&](std::uint32_t id) {
                if (id >= nv && last_use[id] == i && id != result_id) {
                    free.push_back(slot[id]);
                }
            });
        };
        for (std::size_t i = 0; i < code_.instructions.size(); ++i) {
            Instruction& in = code_.instructions[i];
            if (in.op != Op::pow_int) {
                release(in, i);
            }
            std::uint32_t out = next;
            if (free.empty()) {
                ++next;
            } else {
                out = free.back();
                free.pop_back();
            }
            slot[in.out] = out;
            if (in.op == Op::pow_int) {
                release(in, i);
            }
            if (!used[in.out] && in.out != result_id) {
                free.push_back(out);  // computed for nothing: its slot is free at once
            }
            in.out = out;
            in.a = slot[in.a];
            in.b = slot[in.b];
        }
        code_.slots = next;
        code_.result_slot = result.constant ? 0 : slot[result.id];
    }

    template <class F>
    static void for_each_operand(const Instruction& in, F f) {
        if (in.op == Op::undefined) {
            return;
        }
        if (in.mode != Mode::kb) {
            f(in.a);
        }
        if ((in.mode == Mode::ab && in.b != in.a) || in.mode == Mode::kb) {
            f(in.b);  // once for x * x
        }
    }

    Code code_;
    std::unordered_map<std::string, std::uint32_t> index_;
    std::unordered_map<const Expr*, Value> memo_;
    Numbering numbered_;
};

}  // namespace

Code compile_code(const ExprPtr& root, const std::vector<std::string>& variables) {
    return Compiler(variables).run(root);
}

double apply(const Instruction& in, double a, double b, Undefined& why) {
    switch (in.op) {
    case Op::neg: return -a;
    case Op::sqrt: return value_sqrt(a, why);
    case Op::cbrt: return elementary(Elementary::cbrt, a);
    case Op::sin: return elementary(Elementary::sin, a);
    case Op::cos: return elementary(Elementary::cos, a);
    case Op::tan: return value_tan(a, elementary(Elementary::tan, a), why);
    case Op::log: return value_log(a, elementary(Elementary::log, a), why);
    case Op::exp: return elementary(Elementary::exp, a);
    case Op::add: return a + b;
    case Op::mul: return a * b;
    case Op::div: return value_div(a, b, why);
    case Op::pow: return value_pow(a, b, why);
    case Op::pow_int: return value_pow_int(a, static_cast<std::int32_t>(in.k), why);
    case Op::add_scaled: return a + in.k * b;
    case Op::undefined: return undefined(in.why, why);
    }
    return kUndefined;
}

}  // namespace tavrelo::detail
