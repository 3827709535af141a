// The library for C++ programs: include this one header and link tavrelo::tavrelo.
#pragma once

#include "core/expr.hpp"
#include "evaluate/evaluate.hpp"
#include "expand/expand.hpp"
#include "simplify/simplify.hpp"
#include "subs/subs.hpp"
