// The Linux clock behind MakeDeviceCode().
#include <time.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "report/device_code.h"

namespace quorvel {
namespace {

std::string LocalStamp(time_t t) {
    tm local{};
    localtime_r(&t, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02d%02d%02d%02d", local.tm_year + 1900,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    return text;
}

time_t RealtimeSeconds() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec;
}

TEST(PlatformDeviceClock, CodeCarriesTheLocalTimeAndADrawBelow100000) {
    const time_t before = RealtimeSeconds();
    const std::string code = MakeDeviceCode();
    const time_t after = RealtimeSeconds();

    ASSERT_GE(code.size(), 15u);
    ASSERT_LE(code.size(), 19u);
    EXPECT_EQ(code.find_first_not_of("0123456789"), std::string::npos) << code;
    const std::string stamp = code.substr(0, 14);
    EXPECT_TRUE(stamp == LocalStamp(before) || stamp == LocalStamp(after)) << code;
    const std::string draw = code.substr(14);
    EXPECT_TRUE(draw == "0" || draw[0] != '0') << code;
}

TEST(PlatformDeviceClock, CounterCountsNanosecondsAndTicksCountItsMilliseconds) {
    IDeviceClock& clock = PlatformDeviceClock();
    std::int64_t first = 0;
    std::int64_t second = 0;
    ASSERT_TRUE(clock.QueryPerformanceCounter(first));
    timespec pause{0, 2000000};
    nanosleep(&pause, nullptr);
    const std::uint32_t ticks = clock.TickCount();
    ASSERT_TRUE(clock.QueryPerformanceCounter(second));
    EXPECT_GE(second - first, 2000000);

    // Unsigned differences, so a tick count that wrapped at 2^32 still compares.
    const auto firstMs = static_cast<std::uint32_t>(first / 1000000);
    const auto secondMs = static_cast<std::uint32_t>(second / 1000000);
    EXPECT_LE(static_cast<std::uint32_t>(ticks - firstMs),
              static_cast<std::uint32_t>(secondMs - firstMs));
}

}  // namespace
}  // namespace quorvel
