// The library for C++ programs: include this one header and link tavrelo::tavrelo.
#pragma once

#include "core/expr.hpp"
#include "diff/diff.hpp"
#include "expand/expand.hpp"
#include "simplify/simplify.hpp"
