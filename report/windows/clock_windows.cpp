// The Windows clock of the device code.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "report/device_clock.h"

namespace quorvel {
namespace {

class TWindowsDeviceClock final : public IDeviceClock {
public:
    TLocalTime LocalTime() override {
        SYSTEMTIME st{};
        ::GetLocalTime(&st);
        TLocalTime t;
        t.Year = st.wYear;
        t.Month = st.wMonth;
        t.Day = st.wDay;
        t.Hour = st.wHour;
        t.Minute = st.wMinute;
        t.Second = st.wSecond;
        t.Milliseconds = st.wMilliseconds;
        return t;
    }

    bool QueryPerformanceCounter(std::int64_t& value) override {
        LARGE_INTEGER counter{};
        const bool ok = ::QueryPerformanceCounter(&counter) != FALSE;
        value = ok ? counter.QuadPart : 0;
        return ok;
    }

    std::uint32_t TickCount() override { return ::GetTickCount(); }
};

}  // namespace

IDeviceClock& PlatformDeviceClock() {
    static TWindowsDeviceClock clock;
    return clock;
}

}  // namespace quorvel
