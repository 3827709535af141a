// The value at one point: the program's instructions in order, one double per slot, stopping at
// the first part outside the domain.
#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "core/latex_size.hpp"
#include "evaluate/code.hpp"
#include "evaluate/run.hpp"

namespace tavrelo::detail {
namespace {

// Longest LaTeX of the failing part that an error message quotes.
constexpr std::uint64_t kQuotedLatex = 120;

[[noreturn]] void throw_undefined(Undefined why, const Expr& part) {
    std::string message = undefined_message(why);
    if (latex_size_bound(part, kQuotedLatex) <= kQuotedLatex) {
        message += " (" + printable(render_latex(part)) + ")";
    }
    throw std::invalid_argument(message);
}

}  // namespace

double run_point(const Code& code, std::span<const double> point) {
    if (code.constant_result) {
        return code.constant;
    }
    std::vector<double> slot(code.slots);
    std::copy(point.begin(), point.end(), slot.begin());
    for (const Instruction& in : code.instructions) {
        const double a = in.mode == Mode::kb ? in.k : slot[in.a];
        const double b = in.mode == Mode::ab || in.mode == Mode::kb ? slot[in.b] : in.k;
        Undefined why = Undefined::none;
        slot[in.out] = apply(in, a, b, why);
        if (why != Undefined::none) {
            throw_undefined(why, *in.node);
        }
    }
    return slot[code.result_slot];
}

}  // namespace tavrelo::detail
