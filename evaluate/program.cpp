// NumericProgram: compiling once, checking arguments, and choosing the runner.
#include <stdexcept>
#include <string>
#include <unordered_set>
#include <utility>

#include "evaluate/code.hpp"
#include "evaluate/evaluate.hpp"
#include "evaluate/run.hpp"

namespace tavrelo {
namespace {

std::string shape_text(const std::vector<std::size_t>& shape) {
    std::string text = "(";
    for (std::size_t d = 0; d < shape.size(); ++d) {
        text += std::to_string(shape[d]);
        text += (shape.size() == 1 || d + 1 < shape.size()) ? "," : "";
        text += d + 1 < shape.size() ? " " : "";
    }
    return text + ")";
}

}  // namespace

NumericProgram::NumericProgram(ExprPtr expr, std::vector<std::string> variables)
    : expr_(std::move(expr)), variables_(std::move(variables)) {
    if (!expr_) {
        throw std::invalid_argument("式がありません");
    }
    std::unordered_set<std::string> seen;
    for (const std::string& name : variables_) {
        if (!seen.insert(name).second) {
            throw std::invalid_argument("変数 " + detail::printable(name) +
                                        " が二度指定されています");
        }
    }
    code_ = std::make_unique<const detail::Code>(detail::compile_code(expr_, variables_));
}

NumericProgram::~NumericProgram() = default;
NumericProgram::NumericProgram(NumericProgram&&) noexcept = default;
NumericProgram& NumericProgram::operator=(NumericProgram&&) noexcept = default;

std::size_t NumericProgram::instructions() const noexcept { return code_->instructions.size(); }

double NumericProgram::operator()(std::span<const double> point) const {
    if (point.size() != variables_.size()) {
        throw std::invalid_argument("値の数が変数の数と違います");
    }
    return detail::run_point(*code_, point);
}

std::vector<std::size_t> NumericProgram::broadcast_shape(std::span<const ArrayArg> args) const {
    if (args.size() != variables_.size()) {
        throw std::invalid_argument("値の数が変数の数と違います");
    }
    std::vector<std::size_t> shape;
    std::vector<std::size_t> owner;  // the argument that set each dimension, for the message
    for (std::size_t i = 0; i < args.size(); ++i) {
        const auto& own = args[i].shape;
        if (own.size() > shape.size()) {
            const std::size_t grow = own.size() - shape.size();
            shape.insert(shape.begin(), grow, 1);
            owner.insert(owner.begin(), grow, i);
        }
        const std::size_t skip = shape.size() - own.size();
        for (std::size_t d = 0; d < own.size(); ++d) {
            std::size_t& extent = shape[skip + d];
            if (own[d] == extent || own[d] == 1) {
                continue;
            }
            if (extent != 1) {
                const std::size_t j = owner[skip + d];
                throw std::invalid_argument("変数 " + detail::printable(variables_[j]) + " の形 " +
                                            shape_text(args[j].shape) + " と変数 " +
                                            detail::printable(variables_[i]) + " の形 " +
                                            shape_text(own) + " はブロードキャストできません");
            }
            extent = own[d];
            owner[skip + d] = i;
        }
    }
    return shape;
}

void NumericProgram::run(std::span<const ArrayArg> args, double* out) const {
    const std::vector<std::size_t> shape = broadcast_shape(args);
    detail::run_blocks(*code_, args, shape, out);
}

}  // namespace tavrelo
