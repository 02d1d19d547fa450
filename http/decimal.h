// The digit scanner behind the protocol's signed decimal fields (status
// codes, lengths, ports, cookie ages); each field keeps its own range rule.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

struct TDecimal {
    bool Negative = false;
    std::uint64_t Magnitude = 0;
};

// An optional sign, then one or more decimal digits and nothing else; false
// for any other text. A magnitude above `cap` (at least 9) reads as `cap`,
// so a rule tells a number too large by a cap one above its largest value.
bool ScanDecimal(std::string_view text, std::uint64_t cap, TDecimal& number);

}  // namespace quorvel
