// Builds (x + 1)^2, prints it as LaTeX, expands it, simplifies 1/sqrt(2), and sends the square
// through bytes and back.
#include <tavrelo/tavrelo.hpp>

#include <iostream>
#include <memory>

int main() {
    using namespace tavrelo;
    const ExprPtr x = std::make_shared<Var>("x");
    const ExprPtr square = std::make_shared<Pow>(std::make_shared<Add>(x, std::make_shared<Int>(1)),
                                                 std::make_shared<Int>(2));
    std::cout << square->to_string() << '\n';
    std::cout << expand(square)->to_string() << '\n';
    const ExprPtr half_root = std::make_shared<Div>(
        std::make_shared<Int>(1), std::make_shared<Sqrt>(std::make_shared<Int>(2)));
    std::cout << simplify(half_root)->to_string() << '\n';
    const ExprPtr back = loads(dumps(*square));
    std::cout << (same(*back, *square) ? "same" : "different") << '\n';
}
