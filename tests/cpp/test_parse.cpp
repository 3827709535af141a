// The readers' C++ surface: trees, ParseError's place in bytes and in characters, and invalid
// UTF-8 (which Python never passes, but C++ programs may).
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "parse/parse.hpp"

namespace tavrelo {
namespace {

struct Bad {
    std::string_view text;
    bool latex;
    std::size_t offset;
    std::size_t position;
    std::string_view starts;
};

TEST(Parse, ErrorsGiveBytesAndCharacters) {
    const Bad cases[] = {
        {"θ + )", false, 5, 4, "構文エラー"},
        {"x + \xff", false, 4, 4, "構文エラー: UTF-8"},
        {"\\frac{\xce}{2}", true, 6, 6, "構文エラー: UTF-8"},
        {"x_{\xff}", true, 3, 3, "構文エラー: UTF-8"},
        {"x - 2147483649", true, 4, 4, "整数オーバーフローエラー"},
        {std::string_view("x\0y", 3), false, 1, 1, "構文エラー: NUL"},
    };
    for (const Bad& c : cases) {
        try {
            (void)(c.latex ? parse_latex(c.text) : parse(c.text));
            ADD_FAILURE() << c.text;
        } catch (const ParseError& e) {
            EXPECT_EQ(e.offset(), c.offset) << c.text;
            EXPECT_EQ(e.position(), c.position) << c.text;
            EXPECT_TRUE(std::string_view(e.what()).starts_with(c.starts)) << e.what();
        }
    }
}

TEST(Parse, IsAnInvalidArgumentLikeTheLibrarysOtherErrors) {
    EXPECT_THROW((void)parse("("), std::invalid_argument);
}

TEST(Parse, ReadsBothNotations) {
    EXPECT_EQ(parse("x**2*y - exp(-x)")->to_string(), "x^{2}y - e^{-x}");
    EXPECT_EQ(parse("2xy", ParseOptions{true})->to_string(), "2xy");
    const std::string printed = R"(\frac{3\sqrt{x}}{2} - \sin\left(x\right)^{2})";
    EXPECT_EQ(parse_latex(printed)->to_string(), printed);
}

}  // namespace
}  // namespace tavrelo
