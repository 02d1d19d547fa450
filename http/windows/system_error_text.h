// The system's own text for a Windows error number.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// FormatMessage's text for the number, its own final full stop kept, without
// the line break the system ends it with; empty when the system has no text
// for it.
std::string SystemErrorText(std::uint32_t number);

}  // namespace quorvel
