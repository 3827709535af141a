"""The node classes by shape, listed once for the tests, each group in kind order."""

from tavrelo import Add, Cbrt, Cos, Div, E, Int, Log, Mul, Neg, Pi, Pow, Rational, Sin, Sqrt, Tan, Var

LEAVES = (Int, Var, Rational)
CONSTANTS = (Pi, E)
UNARY = (Neg, Sqrt, Cbrt, Sin, Cos, Tan, Log)
# Classes with two children, and the names of their accessors in positional order.
BINARY = {Add: ("left", "right"), Mul: ("left", "right"), Div: ("num", "den"), Pow: ("base", "exp")}
# All sixteen, in kind order.
NODE_CLASSES = (Int, Var, Rational, Neg, Add, Mul, Div, Pow, Sqrt, Pi, E, Cbrt, Sin, Cos, Tan, Log)
