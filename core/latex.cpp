// LaTeX text of a tree, written front to back into one buffer with an explicit task stack: the
// cost is linear in the output and the depth of the tree costs heap, not native stack.
#include <algorithm>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "expr.hpp"
#include "latex_rules.hpp"
#include "latex_size.hpp"
#include "latex_text.hpp"

namespace tavrelo {
namespace {

using latex::is_ascii_letter;

// Thrown when a capped rendering gives up.
struct TooLong {};

class Writer {
public:
    Writer(const Expr& root, std::size_t cap) : root_(root), cap_(cap) {}

    void put(std::string_view s) {
        if (s.empty()) {
            return;
        }
        if (awaited_ != nullptr) {
            right_factor_begins(static_cast<unsigned char>(s.front()));
        }
        append(s);
    }

    void put_int(std::int64_t v) {
        char buf[24];
        const auto res = std::to_chars(buf, buf + sizeof buf, v);
        put(std::string_view(buf, static_cast<std::size_t>(res.ptr - buf)));
    }

    [[nodiscard]] std::size_t size() const { return out_.size(); }

    // The left factor of the side-by-side product `m` was written from `start` on; the first
    // byte of the right factor decides what stands between them. An empty left factor leaves
    // the ending awaited by an enclosing product in force: its right factor begins with
    // whatever this one writes.
    void left_factor_done(const Mul& m, std::size_t start) {
        if (out_.size() > start) {
            left_end_ = ending_since(start);
        }
        awaited_ = &m;
    }

    // The product `m` that began at `start` is complete. If it wrote anything, an ending
    // still awaited is its own (its right factor was empty) and lapses; otherwise it belongs
    // to an enclosing product and stays.
    void product_done(const Mul& m, std::size_t start) {
        if (awaited_ == &m) {
            awaited_ = nullptr;
        }
        if (!wrapped_.empty() && wrapped_.back() == &m) {
            wrapped_.pop_back();
            append(latex::kClose);
        }
        if (out_.size() > start) {
            left_end_ = latex::Ending::Other;
        }
    }

    std::string take() { return std::move(out_); }

private:
    // The right factor of `awaited_` begins with `first`. The innermost product whose right
    // factor has not begun decides: an enclosing one would see what this one writes first.
    void right_factor_begins(unsigned char first) {
        const latex::Join j = latex::join(left_end_, first);
        if (j != latex::Join::Nothing) {
            append(latex::before_right(j));
            if (j == latex::Join::Parentheses) {
                wrapped_.push_back(awaited_);
            }
        }
        awaited_ = nullptr;
        left_end_ = latex::Ending::Other;
    }

    // How the text written since `start` (not empty) ends.
    [[nodiscard]] latex::Ending ending_since(std::size_t start) const {
        return latex::ending(static_cast<unsigned char>(out_.back()),
                             letter_run_start_ < out_.size() && letter_run_start_ > start &&
                                 out_[letter_run_start_ - 1] == '\\');
    }

    void append(std::string_view s) {
        const std::size_t old = out_.size();
        if (old + s.size() > room_) {
            grow(old + s.size());
        }
        out_.append(s);
        std::size_t i = s.size();
        while (i > 0 && is_ascii_letter(static_cast<unsigned char>(s[i - 1]))) {
            --i;
        }
        if (i > 0) {
            letter_run_start_ = old + i;
        }
    }

    // `room_` is the capacity, or the cap when that is smaller: passing it is the one test the
    // hot path makes for both.
    [[gnu::noinline, gnu::cold]] void grow(std::size_t needed) {
        if (needed > cap_) {
            throw TooLong{};
        }
        if (cap_ == SIZE_MAX) {
            before_growing(needed);
        }
        if (needed > out_.capacity()) {
            out_.reserve(std::max(needed, 2 * out_.capacity()));
        }
        room_ = std::min(out_.capacity(), cap_);
    }

    // A text can outgrow its tree only where subtrees are shared: 61 nodes can stand for 2^60
    // leaves. Each time a long text doubles, the renderer tries to measure the whole text with a
    // small budget of steps (shared subtrees are measured once, so such a tree measures
    // quickly), refuses at once a text that memory cannot hold, and otherwise gives the buffer
    // its final size. A large tree without sharing exceeds the budget: its text costs memory in
    // proportion to the tree anyway, and the budget keeps the tries to a few percent.
    [[gnu::noinline, gnu::cold]] void before_growing(std::size_t needed) {
        if (measured_ || needed <= next_measure_) {
            return;
        }
        next_measure_ = needed * 2;
        const std::uint64_t limit = latex_text_limit();
        const auto bound = latex_size_bound_within(root_, limit, needed / kBytesPerStep);
        if (!bound) {
            return;
        }
        measured_ = true;
        if (*bound > limit || *bound > out_.max_size()) {
            throw std::bad_alloc();
        }
        out_.reserve(static_cast<std::size_t>(*bound));
    }

    static constexpr std::size_t kBytesPerStep = 256;

    const Expr& root_;
    const std::size_t cap_;
    std::size_t room_ = 0;
    std::string out_;
    std::size_t letter_run_start_ = 0;  // where the trailing run of ASCII letters begins
    latex::Ending left_end_ = latex::Ending::Other;  // of the left factor of `awaited_`
    const Mul* awaited_ = nullptr;     // the product whose right factor has not begun yet
    std::vector<const Mul*> wrapped_;  // products whose right factor is in parentheses
    std::size_t next_measure_ = std::size_t{64} << 10;
    bool measured_ = false;
};

enum class Op : std::uint8_t {
    Node,        // render `node`, in parentheses when it binds looser than `least`
    Literal,     // write `text`
    Integer,     // write `value`
    MulRight,    // the left factor of the product `node`, begun at `start`, is written
    ProductDone  // the product `node` begun at `start` is written
};

// Kept small: a deep tree keeps one pending task per level on the stack.
struct Task {
    Op op;
    std::uint8_t least;    // a Precedence
    std::uint32_t length;  // of `text`
    union {
        const Expr* node;
        const char* text;
        std::int64_t value;
    };
    std::size_t start;
};
static_assert(sizeof(Task) <= 24);

Task node_task(const Expr* n, Precedence least, Op op = Op::Node, std::size_t start = 0) {
    Task t;
    t.op = op;
    t.least = static_cast<std::uint8_t>(least);
    t.length = 0;
    t.node = n;
    t.start = start;
    return t;
}

Task literal_task(std::string_view s) {
    Task t = node_task(nullptr, latex::kAnywhere, Op::Literal);
    t.length = static_cast<std::uint32_t>(s.size());
    t.text = s.data();
    return t;
}

Task integer_task(std::int64_t v) {
    Task t = node_task(nullptr, latex::kAnywhere, Op::Integer);
    t.value = v;
    return t;
}

Task position_task(Op op, const Expr* n, std::size_t start) {
    return node_task(n, latex::kAnywhere, op, start);
}

bool is_leaf(const Expr& e) { return tavrelo::is_leaf(kind_of(e)); }

// Writes the pieces of latex::describe front to back. A node's pieces up to its first child
// that is not a leaf are written at once (leaves have no children to wait for, and most
// children are leaves); the rest wait on the task stack for that child's text.
class Renderer {
public:
    // `store`: room for the task stack, kept between calls.
    Renderer(std::vector<Task>& store, const Expr& root, std::size_t cap = SIZE_MAX,
             const std::unordered_set<const Expr*>* stop_at = nullptr)
        : w_(root, cap), store_(store), stop_at_(stop_at) {}

    // Flattened: the compiler otherwise leaves the small steps of the hot loop as calls.
    [[gnu::flatten]] std::string run(const Expr& root) {
        make_room(1);
        push(node_task(&root, latex::kAnywhere));
        while (top_ > 0) {
            const Task t = stack_[--top_];
            switch (t.op) {
            case Op::Node: render(*t.node, static_cast<Precedence>(t.least)); break;
            case Op::Literal: w_.put(std::string_view(t.text, t.length)); break;
            case Op::Integer: w_.put_int(t.value); break;
            case Op::MulRight: {
                make_room(kMostWaiting);
                Pieces pieces(*this);
                pieces.right_factor(as<Mul>(*t.node), t.start);
                pieces.done();
                break;
            }
            case Op::ProductDone: w_.product_done(as<Mul>(*t.node), t.start); break;
            }
        }
        return w_.take();
    }

private:
    // The most tasks one node leaves waiting: a sum with a negative fraction on its right.
    static constexpr std::size_t kMostWaiting = 8;

    // Receives the pieces of one node. Tasks run last-in first-out, so waiting pieces are
    // placed from the top of a window down, and the window is closed up at the end.
    class Pieces {
    public:
        explicit Pieces(Renderer& r) : r_(r), window_(r.stack_ + r.top_) {}

        void literal(std::string_view s) {
            if (waiting_ != 0) {
                wait(literal_task(s));
            } else {
                r_.w_.put(s);
            }
        }
        void integer(std::int64_t v) {
            if (waiting_ != 0) {
                wait(integer_task(v));
            } else {
                r_.w_.put_int(v);
            }
        }
        void child(const ExprPtr& c, Precedence least) {
            if (waiting_ == 0 && is_leaf(*c)) {  // a leaf is never in parentheses
                latex::describe(*c, *this);
            } else {
                wait(node_task(c.get(), least));
            }
        }
        void side_by_side(const Mul& m) {
            const std::size_t start = r_.w_.size();
            if (waiting_ == 0 && is_leaf(*m.left)) {
                latex::describe(*m.left, *this);
                right_factor(m, start);
            } else {
                wait(node_task(m.left.get(), latex::kFactor));
                wait(position_task(Op::MulRight, &m, start));
            }
        }

        // The left factor of `m`, begun at `start`, is written: the right one follows.
        void right_factor(const Mul& m, std::size_t start) {
            r_.w_.left_factor_done(m, start);
            if (is_leaf(*m.right)) {
                latex::describe(*m.right, *this);
                r_.w_.product_done(m, start);
            } else {
                wait(node_task(m.right.get(), latex::kFactor));
                wait(position_task(Op::ProductDone, &m, start));
            }
        }

        void done() {
            const std::size_t from = kMostWaiting - waiting_;
            for (std::size_t k = 0; k < waiting_; ++k) {
                window_[k] = window_[from + k];
            }
            r_.top_ += waiting_;
        }

    private:
        void wait(const Task& t) { window_[kMostWaiting - 1 - waiting_++] = t; }

        Renderer& r_;
        Task* const window_;
        std::size_t waiting_ = 0;
    };

    void render(const Expr& e, Precedence least) {
        if (stop_at_ != nullptr && stop_at_->count(&e) != 0) {
            throw TooLong{};
        }
        make_room(1 + kMostWaiting);
        if (latex::wrapped_at(e, least)) {
            w_.put(latex::kOpen);
            push(literal_task(latex::kClose));
        }
        Pieces pieces(*this);
        latex::describe(e, pieces);
        pieces.done();
    }

    // The stack grows only here; pushes are unchecked.
    void make_room(std::size_t n) {
        if (top_ + n > store_.size()) {
            store_.resize(std::max(top_ + n, 2 * store_.size()));
            stack_ = store_.data();
        }
    }
    void push(const Task& t) { stack_[top_++] = t; }

    Writer w_;
    std::vector<Task>& store_;
    Task* stack_ = store_.data();
    std::size_t top_ = 0;
    const std::unordered_set<const Expr*>* stop_at_;
};

// A stack that a deep tree grew is not kept for the rest of the thread's life.
constexpr std::size_t kKeptTasks = 4096;

// Reused between calls on a thread: the expander renders many small terms.
thread_local std::vector<Task> tasks;

void trim_tasks() {
    if (tasks.capacity() > kKeptTasks) {
        tasks = std::vector<Task>();
    }
}

}  // namespace

std::string render_latex(const Expr& root) {
    std::string text = Renderer(tasks, root).run(root);
    trim_tasks();
    return text;
}

std::optional<std::string> render_latex_within(const Expr& root, std::size_t max_bytes,
                                               const std::unordered_set<const Expr*>* stop_at) {
    try {
        std::string text = Renderer(tasks, root, max_bytes, stop_at).run(root);
        trim_tasks();
        return text;
    } catch (const TooLong&) {
        trim_tasks();
        return std::nullopt;
    }
}

}  // namespace tavrelo
