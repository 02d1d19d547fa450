// The Windows clock behind MakeDeviceCode().
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "report/device_clock.h"
#include "report/device_code.h"

namespace quorvel {
namespace {

std::string LocalStamp() {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    char text[32];
    std::snprintf(text, sizeof text, "%04u%02u%02u%02u%02u%02u", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond);
    return text;
}

TEST(WindowsDeviceClock, CodeCarriesTheLocalTimeAndADrawBelow100000) {
    const std::string before = LocalStamp();
    const std::string code = MakeDeviceCode();
    const std::string after = LocalStamp();

    ASSERT_GE(code.size(), 15u);
    ASSERT_LE(code.size(), 19u);
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
    const std::string stamp = code.substr(0, 14);
    EXPECT_TRUE(stamp == before || stamp == after) << code;
    const std::string draw = code.substr(14);
    EXPECT_TRUE(draw == "0" || draw[0] != '0') << code;
}

TEST(WindowsDeviceClock, CounterIsThePerformanceCounterAndTicksTheTickCount) {
    IDeviceClock& clock = PlatformDeviceClock();
    LARGE_INTEGER frequency{};
    ASSERT_TRUE(::QueryPerformanceFrequency(&frequency));
    std::int64_t first = 0;
    std::int64_t second = 0;
    const DWORD ticksBefore = ::GetTickCount();
    ASSERT_TRUE(clock.QueryPerformanceCounter(first));
    ::Sleep(20);
    const std::uint32_t ticks = clock.TickCount();
    ASSERT_TRUE(clock.QueryPerformanceCounter(second));
    const DWORD ticksAfter = ::GetTickCount();

    // At least the sleep, in counter units; far less than a minute.
    EXPECT_GE(second - first, frequency.QuadPart * 15 / 1000);
    EXPECT_LT(second - first, frequency.QuadPart * 60);
    // Unsigned differences, so a tick count that wrapped still compares.
    EXPECT_LE(static_cast<std::uint32_t>(ticks - ticksBefore), static_cast<std::uint32_t>(ticksAfter - ticksBefore));
}

TEST(WindowsDeviceClock, LocalTimeIsTheSystemsLocalTime) {
    SYSTEMTIME st{};
    ::GetLocalTime(&st);
    const TLocalTime t = PlatformDeviceClock().LocalTime();
    EXPECT_EQ(t.Year, st.wYear);
    EXPECT_EQ(t.Month, st.wMonth);
    EXPECT_EQ(t.Day, st.wDay);
    EXPECT_GE(t.Hour, 0);
    EXPECT_LE(t.Hour, 23);
    // Same minute unless the minute turned between the two reads.
    const int systemMinutes = st.wHour * 60 + st.wMinute;
    const int clockMinutes = t.Hour * 60 + t.Minute;
    EXPECT_LE(clockMinutes - systemMinutes, 1);
    EXPECT_GE(clockMinutes - systemMinutes, 0);
}

}  // namespace
}  // namespace quorvel
