// Reads the date of a cookie's Expires attribute.
#pragma once

#include <chrono>
#include <optional>
#include <string_view>

namespace quorvel {

// Accepts the forms servers send: RFC 1123 ("Sun, 06 Nov 1994 08:49:37 GMT"),
// RFC 850 ("Sunday, 06-Nov-94 08:49:37 GMT"), asctime ("Sun Nov  6 08:49:37
// 1994") and the Netscape form with dashes ("Sun, 06-Nov-1994 08:49:37 GMT").
// The time is read as GMT. Nothing for a text that holds no valid date.
std::optional<std::chrono::sys_seconds> ParseCookieDate(std::string_view text);

}  // namespace quorvel
