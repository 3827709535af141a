// Feeds arbitrary bytes to loads. The first byte chooses the framing: as they are, or wrapped in
// a valid header, end tag and checksum, so that the records themselves are explored. A tree that
// loads must write back to bytes that load to the same tree; anything else must be refused with
// std::invalid_argument. Any crash, sanitizer report or other exception aborts.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>

#include "compare/same.hpp"
#include "compare/structural_hash.hpp"
#include "serial/format.hpp"
#include "serial/serial.hpp"

namespace {

std::string framed(std::string_view records) {
    std::string data(tavrelo::serial::kMagic.begin(), tavrelo::serial::kMagic.end());
    data.push_back(static_cast<char>(tavrelo::kFormatVersion));
    data.append(records);
    data.push_back(static_cast<char>(tavrelo::serial::kEnd));
    const std::uint32_t sum = tavrelo::serial::checksum(data);
    for (std::size_t k = 0; k < tavrelo::serial::kChecksumBytes; ++k) {
        data.push_back(static_cast<char>(sum >> (8 * k)));
    }
    return data;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::string_view rest(reinterpret_cast<const char*>(bytes + 1), size - 1);
    const std::string data = (bytes[0] & 1) != 0 ? framed(rest) : std::string(rest);
    tavrelo::ExprPtr tree;
    try {
        tree = tavrelo::loads(data);
    } catch (const std::invalid_argument&) {
        return 0;
    }
    const std::string again = tavrelo::dumps(*tree);
    const tavrelo::ExprPtr back = tavrelo::loads(again);
    if (!tavrelo::same(*back, *tree) ||
        tavrelo::structural_hash(*back) != tavrelo::structural_hash(*tree) ||
        tavrelo::dumps(*back) != again) {
        std::fprintf(stderr, "invariant broken: a loaded tree does not round-trip\n");
        std::abort();
    }
    return 0;
}
