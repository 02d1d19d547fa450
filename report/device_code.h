// The device code of the install report: local timestamp plus a fresh draw.
#pragma once

#include <cstdint>
#include <string>

#include "report/device_clock.h"

namespace quorvel {

// "YYYYMMDDhhnnss" followed by a number below 100000 without leading zeros.
// Re-seeds the process-wide generator state on every call, then draws once.
std::string MakeDeviceCode();
std::string MakeDeviceCode(IDeviceClock& clock);

// The process-wide generator state (one plain variable, no lock: only the
// user-interface thread draws from it).
std::uint32_t RandSeed();
void SetRandSeed(std::uint32_t state);

// Advances the state once and returns a number in 0..99999.
std::uint32_t RandomBelow100000();

}  // namespace quorvel
