// Feeds arbitrary bytes to both readers. Each must return a tree or throw ParseError, nothing
// else; a tree read from LaTeX must print to a text that reads back to the same text, and the
// text of any tree read must itself read back that way.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <new>
#include <string>
#include <string_view>

#include "core/expr.hpp"
#include "parse/parse.hpp"

namespace tavrelo {
namespace {

[[noreturn]] void fail(const char* what, std::string_view a, std::string_view b = {}) {
    std::fprintf(stderr, "invariant broken: %s\n[%.*s]\n[%.*s]\n", what, static_cast<int>(a.size()),
                 a.data(), static_cast<int>(b.size()), b.data());
    std::abort();
}

// A printer that writes x·(-3) as "x-3" (builds before that text was mended) prints some trees
// as texts of other trees; with it only the second reading's success is checked.
bool printer_sets_negative_factors_apart() {
    static const bool mended =
        Mul(std::make_shared<Var>("x"), std::make_shared<Int>(-3)).to_string() != "x-3";
    return mended;
}

// Names of the typed reader (x_12, alpha) are not all names of the LaTeX reader, so only trees
// read from LaTeX must survive the second reading.
void check_printed(const ExprPtr& tree, bool from_latex, const ParseOptions& options) {
    const std::string text = tree->to_string();
    ExprPtr again;
    try {
        again = parse_latex(text, options);
    } catch (const ParseError& e) {
        if (from_latex) {
            fail("printed LaTeX does not read back", text, e.what());
        }
        return;
    }
    const std::string text_again = again->to_string();
    if (from_latex && text_again != text && printer_sets_negative_factors_apart()) {
        fail("printed LaTeX reads back to another text", text, text_again);
    }
}

void read(std::string_view text, bool latex, const ParseOptions& options) {
    ExprPtr tree;
    try {
        tree = latex ? parse_latex(text, options) : parse(text, options);
    } catch (const ParseError& e) {
        if (e.offset() > text.size()) {
            fail("error past the end", text, e.what());
        }
        return;
    } catch (const std::bad_alloc&) {
        return;
    } catch (const std::exception& e) {
        fail("unexpected exception", text, e.what());
    }
    if (!tree) {
        fail("no tree and no error", text);
    }
    check_printed(tree, latex, options);
}

}  // namespace
}  // namespace tavrelo

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    // The first byte chooses the reader and the name rule; the rest is the text.
    const unsigned mode = data[0];
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const tavrelo::ParseOptions options{(mode & 2) != 0};
    tavrelo::read(text, (mode & 1) != 0, options);
    return 0;
}
