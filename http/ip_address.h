// Dotted IPv4 address text, read the way the socket stack and the cookie
// store both take it.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

// Four fields cut at ".", each a whole number from 0 to 255, nothing after
// the fourth.
bool ParseIPv4(std::string_view text, std::uint8_t out[4]);
bool IsDottedIPv4(std::string_view text);

}  // namespace quorvel
