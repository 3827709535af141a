// The reader against damaged data, under the sanitizers: every cut and every changed byte of a
// stream either loads a tree that writes back the same bytes or throws std::invalid_argument.
#include <gtest/gtest.h>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "compare/same.hpp"
#include "compare/structural_hash.hpp"
#include "serial/format.hpp"
#include "serial/serial.hpp"
#include "tree_builders.hpp"

namespace tavrelo {
namespace {

using namespace build;

// A stream with every record type: shared nodes, references, names, fractions, constants.
std::string sample() {
    const ExprPtr s = add(v("x"), q(-3, 7));
    return dumps(*mul(pow(s, i(-70000)), add(sin(s), div(pi(), neg(e())))));
}

// The checksum recomputed, so that the reader looks past it at the records.
std::string resealed(std::string data) {
    const std::size_t body = data.size() - serial::kChecksumBytes;
    const std::uint32_t sum = serial::checksum(std::string_view(data).substr(0, body));
    for (std::size_t k = 0; k < serial::kChecksumBytes; ++k) {
        data[body + k] = static_cast<char>(sum >> (8 * k));
    }
    return data;
}

// Loads or refuses; a tree that loads must survive a second round trip unchanged.
void loads_or_refuses(const std::string& data) {
    try {
        const ExprPtr tree = loads(data);
        const std::string again = dumps(*tree);
        EXPECT_TRUE(same(*loads(again), *tree));
        EXPECT_EQ(dumps(*loads(again)), again);
    } catch (const std::invalid_argument&) {
    }
}

TEST(Serial, EveryCutIsRefused) {
    const std::string data = sample();
    for (std::size_t end = 0; end < data.size(); ++end) {
        EXPECT_THROW((void)loads(data.substr(0, end)), std::invalid_argument) << end;
    }
}

TEST(Serial, EveryChangedByteLoadsOrIsRefused) {
    const std::string data = sample();
    for (std::size_t at = 0; at < data.size(); ++at) {
        for (const int value : {0x00, 0x01, 0x10, 0x20, 0x21, 0x7f, 0x80, 0xff}) {
            std::string changed = data;
            changed[at] = static_cast<char>(value);
            loads_or_refuses(changed);
            if (at + serial::kChecksumBytes < data.size()) {
                loads_or_refuses(resealed(changed));
            }
        }
    }
}

TEST(Serial, DeepChainsAndSharedSubtrees) {
    ExprPtr chain = v("x");
    ExprPtr dag = v("x");
    for (int k = 0; k < 200'000; ++k) {
        chain = (k % 2 == 0) ? neg(chain) : add(chain, i(k));
        if (k < 60) {
            dag = add(dag, dag);
        }
    }
    for (const ExprPtr& tree : {chain, dag}) {
        const ExprPtr back = loads(dumps(*tree));
        EXPECT_TRUE(same(*back, *tree));
        EXPECT_EQ(structural_hash(*back), structural_hash(*tree));
    }
    EXPECT_LT(dumps(*dag).size(), 300U);
}

}  // namespace
}  // namespace tavrelo
