#include "http/digits.h"

namespace quorvel {

bool ScanDecimal(std::string_view text, std::uint64_t cap, TDecimal& number) {
    TDecimal read;
    std::size_t i = 0;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) read.Negative = text[i++] == '-';
    if (i == text.size()) return false;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return false;
        const auto digit = static_cast<std::uint64_t>(text[i] - '0');
        read.Magnitude = read.Magnitude > (cap - digit) / 10 ? cap : read.Magnitude * 10 + digit;
    }
    number = read;
    return true;
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace quorvel
