// Tables of the words the readers know.
#include "words.hpp"

#include <algorithm>
#include <array>

namespace tavrelo::reading {
namespace {

struct Named {
    std::string_view word;
    Function function;
};

constexpr std::array kTyped{
    Named{"sin", Function::Sin},   Named{"cos", Function::Cos},   Named{"tan", Function::Tan},
    Named{"log", Function::Log},   Named{"ln", Function::Log},    Named{"exp", Function::Exp},
    Named{"sqrt", Function::Sqrt}, Named{"cbrt", Function::Cbrt},
};

constexpr std::array kLatex{
    Named{"sin", Function::Sin}, Named{"cos", Function::Cos}, Named{"tan", Function::Tan},
    Named{"ln", Function::Log},  Named{"log", Function::Log}, Named{"exp", Function::Exp},
};

constexpr std::array<std::string_view, 40> kGreek{
    "alpha",  "beta",     "gamma",  "delta",   "epsilon",  "varepsilon", "zeta",    "eta",
    "theta",  "vartheta", "iota",   "kappa",   "lambda",   "mu",         "nu",      "xi",
    "varpi",  "rho",      "varrho", "sigma",   "varsigma", "tau",        "upsilon", "phi",
    "varphi", "chi",      "psi",    "omega",   "Gamma",    "Delta",      "Theta",   "Lambda",
    "Xi",     "Pi",       "Sigma",  "Upsilon", "Phi",      "Psi",        "Omega",   "digamma",
};

std::optional<Function> find(const auto& table, std::string_view word) {
    for (const Named& n : table) {
        if (n.word == word) {
            return n.function;
        }
    }
    return std::nullopt;
}

}  // namespace

std::optional<Function> typed_function(std::string_view word) { return find(kTyped, word); }

std::optional<Function> latex_function(std::string_view command) { return find(kLatex, command); }

bool is_greek_command(std::string_view command) {
    return std::find(kGreek.begin(), kGreek.end(), command) != kGreek.end();
}

bool is_spacing_command(std::string_view command) {
    return command == "quad" || command == "qquad";
}

}  // namespace tavrelo::reading
