// The library for C++ programs: include this one header and link tavrelo::tavrelo.
#pragma once

#include "compare/same.hpp"
#include "compare/structural_hash.hpp"
#include "core/expr.hpp"
#include "expand/expand.hpp"
#include "parse/parse.hpp"
#include "serial/serial.hpp"
#include "simplify/simplify.hpp"
