// The Linux clock of the device code.
#include <time.h>

#include "report/device_clock.h"

namespace quorvel {
namespace {

std::int64_t MonotonicNanoseconds(bool& ok) {
    timespec ts{};
    ok = clock_gettime(CLOCK_MONOTONIC, &ts) == 0;
    return ok ? static_cast<std::int64_t>(ts.tv_sec) * 1000000000 + ts.tv_nsec : 0;
}

class TPosixDeviceClock final : public IDeviceClock {
public:
    TLocalTime LocalTime() override {
        timespec ts{};
        clock_gettime(CLOCK_REALTIME, &ts);
        tm local{};
        const time_t seconds = ts.tv_sec;
        localtime_r(&seconds, &local);
        TLocalTime t;
        t.Year = local.tm_year + 1900;
        t.Month = local.tm_mon + 1;
        t.Day = local.tm_mday;
        t.Hour = local.tm_hour;
        t.Minute = local.tm_min;
        // A leap second (60) has no place in the code's 00..59.
        t.Second = local.tm_sec > 59 ? 59 : local.tm_sec;
        t.Milliseconds = static_cast<int>(ts.tv_nsec / 1000000);
        return t;
    }

    bool QueryPerformanceCounter(std::int64_t& value) override {
        bool ok = false;
        value = MonotonicNanoseconds(ok);
        return ok;
    }

    std::uint32_t TickCount() override {
        bool ok = false;
        const std::int64_t ns = MonotonicNanoseconds(ok);
        // Wraps at 2^32 ms, as the platform's tick count does.
        return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ns / 1000000));
    }
};

}  // namespace

IDeviceClock& PlatformDeviceClock() {
    static TPosixDeviceClock clock;
    return clock;
}

}  // namespace quorvel
