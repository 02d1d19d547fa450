#include "http/decimal.h"

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

}  // namespace quorvel
