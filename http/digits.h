// The digit readers behind the protocol's numbers: one scanner for the
// signed decimal fields (status codes, lengths, ports, cookie ages), each
// field keeping its own range rule, and hexadecimal digits.
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

// The value of a hexadecimal digit of either case; -1 for any other character.
int HexDigit(char c);

}  // namespace quorvel
