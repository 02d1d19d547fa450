// The system's own text for a Windows error number.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// FormatMessage's text for the number, without the trailing line break and
// full stop the system adds (the error box adds its own "."); empty when the
// system has no text for it.
std::string SystemErrorText(std::uint32_t number);

}  // namespace quorvel
