// The clock and counters the device code reads; one implementation per platform.
#pragma once

#include <cstdint>

namespace quorvel {

struct TLocalTime {
    int Year = 0;
    int Month = 0;
    int Day = 0;
    int Hour = 0;
    int Minute = 0;
    int Second = 0;
    int Milliseconds = 0;
};

class IDeviceClock {
public:
    virtual ~IDeviceClock() = default;
    virtual TLocalTime LocalTime() = 0;
    // False when the counter cannot be read; value is then meaningless.
    virtual bool QueryPerformanceCounter(std::int64_t& value) = 0;
    // Milliseconds since the system started, wrapping at 2^32.
    virtual std::uint32_t TickCount() = 0;
};

// The running platform's clock (report/posix/ or report/windows/).
IDeviceClock& PlatformDeviceClock();

}  // namespace quorvel
