#include "report/device_code.h"

#include <gtest/gtest.h>

#include <string>

namespace quorvel {
namespace {

class TFakeClock : public IDeviceClock {
public:
    TLocalTime Now{2024, 1, 2, 3, 4, 5, 678};
    bool CounterWorks = true;
    std::int64_t Counter = 1;
    std::uint32_t Ticks = 0;
    int LocalTimeReads = 0;

    TLocalTime LocalTime() override {
        ++LocalTimeReads;
        return Now;
    }
    bool QueryPerformanceCounter(std::int64_t& value) override {
        // A failed read may leave anything behind; the caller must not use it.
        value = CounterWorks ? Counter : 0x7777777777;
        return CounterWorks;
    }
    std::uint32_t TickCount() override { return Ticks; }
};

// The state before the advance whose draw is `draw`: the smallest advanced
// state that reaches it, taken back through the inverse of the generator.
std::uint32_t StateDrawing(std::uint32_t draw) {
    const std::uint64_t advanced = ((std::uint64_t{draw} << 32) + 99999) / 100000;
    std::uint32_t inverse = 134775813u;  // Newton: each step doubles the correct bits
    for (int i = 0; i < 5; ++i) inverse *= 2u - 134775813u * inverse;
    return (static_cast<std::uint32_t>(advanced) - 1u) * inverse;
}

TEST(DeviceCode, WorkedExampleFromStateOne) {
    TFakeClock clock;
    EXPECT_EQ(MakeDeviceCode(clock), "202401020304053137");
    EXPECT_EQ(RandSeed(), 134775814u);
}

TEST(DeviceCode, OnlyLowThirtyTwoBitsOfTheCounterSeed) {
    TFakeClock clock;
    clock.Counter = (std::int64_t{0x5A5A} << 32) | 1;
    EXPECT_EQ(MakeDeviceCode(clock), "202401020304053137");
}

TEST(DeviceCode, DrawIsWrittenWithoutLeadingZeros) {
    struct TCase {
        std::uint32_t draw;
        std::string tail;
    };
    for (const TCase& c : {TCase{0, "0"}, TCase{7, "7"}, TCase{99999, "99999"}}) {
        SetRandSeed(StateDrawing(c.draw));
        ASSERT_EQ(RandomBelow100000(), c.draw) << "inverse search is wrong";

        TFakeClock clock;
        clock.Counter = StateDrawing(c.draw);
        const std::string code = MakeDeviceCode(clock);
        EXPECT_EQ(code, "20240102030405" + c.tail);
        EXPECT_EQ(code.size(), 14 + c.tail.size());
    }
}

TEST(DeviceCode, StateZeroAdvancesToOneAndDrawsZero) {
    SetRandSeed(0);
    EXPECT_EQ(RandomBelow100000(), 0u);
    EXPECT_EQ(RandSeed(), 1u);
}

TEST(DeviceCode, TimeFieldsAreZeroFilledOnTheTwentyFourHourClock) {
    TFakeClock clock;
    clock.Now = {2024, 12, 31, 13, 0, 0, 0};
    EXPECT_EQ(MakeDeviceCode(clock).substr(0, 14), "20241231130000");
    clock.Now = {2024, 3, 9, 0, 0, 0, 999};
    EXPECT_EQ(MakeDeviceCode(clock).substr(0, 14), "20240309000000");
    clock.Now = {2024, 3, 9, 23, 59, 59, 0};
    EXPECT_EQ(MakeDeviceCode(clock).substr(0, 14), "20240309235959");
    clock.Now = {987, 1, 1, 1, 1, 1, 0};
    EXPECT_EQ(MakeDeviceCode(clock).substr(0, 14), "09870101010101");
}

TEST(DeviceCode, ReadsTheLocalTimeOnce) {
    TFakeClock clock;
    MakeDeviceCode(clock);
    EXPECT_EQ(clock.LocalTimeReads, 1);
}

TEST(DeviceCode, FailedCounterFallsBackToTheTickCount) {
    TFakeClock clock;
    clock.CounterWorks = false;
    clock.Ticks = 1;
    EXPECT_EQ(MakeDeviceCode(clock), "202401020304053137");
    // Same millisecond, same draw.
    EXPECT_EQ(MakeDeviceCode(clock), "202401020304053137");
}

TEST(DeviceCode, EveryCallReseedsInsteadOfContinuingTheSequence) {
    TFakeClock clock;
    clock.Counter = 123456789;
    const std::string first = MakeDeviceCode(clock);
    SetRandSeed(42);
    EXPECT_EQ(MakeDeviceCode(clock), first);

    // Without the re-seed the second draw would continue from the first.
    SetRandSeed(123456789);
    RandomBelow100000();
    const std::string continued = "20240102030405" + std::to_string(RandomBelow100000());
    EXPECT_NE(MakeDeviceCode(clock), continued);
}

}  // namespace
}  // namespace quorvel
