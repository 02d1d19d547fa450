#include "report/device_code.h"

#include <cstdio>

namespace quorvel {
namespace {

std::uint32_t gRandSeed = 0;

std::string FormatTimestamp(const TLocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour,
                  t.Minute, t.Second);
    return text;
}

void Reseed(IDeviceClock& clock) {
    std::int64_t counter = 0;
    if (clock.QueryPerformanceCounter(counter)) {
        gRandSeed = static_cast<std::uint32_t>(static_cast<std::uint64_t>(counter));
    } else {
        gRandSeed = clock.TickCount();
    }
}

}  // namespace

std::uint32_t RandSeed() { return gRandSeed; }
void SetRandSeed(std::uint32_t state) { gRandSeed = state; }

std::uint32_t RandomBelow100000() {
    gRandSeed = gRandSeed * 134775813u + 1u;  // unsigned: wraps mod 2^32
    return static_cast<std::uint32_t>((static_cast<std::uint64_t>(gRandSeed) * 100000u) >> 32);
}

std::string MakeDeviceCode(IDeviceClock& clock) {
    Reseed(clock);
    // One reading, so a call at midnight never mixes the old date with the new time.
    const TLocalTime now = clock.LocalTime();
    return FormatTimestamp(now) + std::to_string(RandomBelow100000());
}

std::string MakeDeviceCode() { return MakeDeviceCode(PlatformDeviceClock()); }

}  // namespace quorvel
