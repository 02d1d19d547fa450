#include "http/ip_address.h"

namespace quorvel {

bool ParseIPv4(std::string_view text, std::uint8_t out[4]) {
    std::size_t i = 0;
    for (int field = 0; field < 4; ++field) {
        if (field > 0) {
            if (i >= text.size() || text[i] != '.') return false;
            ++i;
        }
        const std::size_t start = i;
        unsigned value = 0;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9') {
            value = value * 10 + static_cast<unsigned>(text[i] - '0');
            if (value > 255) return false;
            ++i;
        }
        if (i == start) return false;
        out[field] = static_cast<std::uint8_t>(value);
    }
    return i == text.size();
}

bool IsDottedIPv4(std::string_view text) {
    std::uint8_t bytes[4];
    return ParseIPv4(text, bytes);
}

}  // namespace quorvel
