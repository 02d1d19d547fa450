#include "shell/window_rules.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>

#include "http/exceptions.h"

namespace quorvel {
namespace {

TEST(MulDiv, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDiv(1, 1, 2), 1);
    EXPECT_EQ(MulDiv(-1, 1, 2), -1);
    EXPECT_EQ(MulDiv(1, -1, 2), -1);
    EXPECT_EQ(MulDiv(1, 1, -2), -1);
    EXPECT_EQ(MulDiv(-1, -1, -2), -1);
    EXPECT_EQ(MulDiv(3, 1, 2), 2);
    EXPECT_EQ(MulDiv(-3, 1, 2), -2);
    EXPECT_EQ(MulDiv(-11, 120, 96), -14);  // -13.75
    EXPECT_EQ(MulDiv(8, 120, 72), 13);     // 13.33
}

TEST(MulDiv, RoundsToTheNearestBelowAHalf) {
    EXPECT_EQ(MulDiv(1, 1, 3), 0);
    EXPECT_EQ(MulDiv(2, 1, 3), 1);
    EXPECT_EQ(MulDiv(-2, 1, 3), -1);
    EXPECT_EQ(MulDiv(978, 17, 13), 1279);
    EXPECT_EQ(MulDiv(727, 17, 13), 951);
}

TEST(MulDiv, KeepsTheFullProductAndAnswersMinusOneWhenItCannot) {
    EXPECT_EQ(MulDiv(INT_MAX, INT_MAX, INT_MAX), INT_MAX);
    EXPECT_EQ(MulDiv(5, 7, 0), -1);
    EXPECT_EQ(MulDiv(INT_MAX, 2, 1), -1);
}

TEST(ScaleWindow, DesignResolutionKeepsTheDesignSize) {
    int askedFont = 0;
    const TWindowScale s = ScaleWindow(96, [&](int font) {
        askedFont = font;
        return 13;
    });
    EXPECT_EQ(askedFont, -11);
    EXPECT_EQ(s.FontHeight, -11);
    EXPECT_EQ(s.ClientWidth, 978);
    EXPECT_EQ(s.ClientHeight, 727);
}

TEST(ScaleWindow, LargerResolutionScalesFontThenMeasuredSize) {
    int askedFont = 0;
    const TWindowScale s = ScaleWindow(120, [&](int font) {
        askedFont = font;
        return 17;
    });
    EXPECT_EQ(askedFont, -14);  // measured in the scaled font
    EXPECT_EQ(s.FontHeight, -14);
    EXPECT_EQ(s.ClientWidth, 1279);
    EXPECT_EQ(s.ClientHeight, 951);
}

TEST(ScaleWindow, FontStaysWhenThePlatformDefaultIsTheDesignFont) {
    // At 100 ppi the default font is -MulDiv(8, 100, 72) = -11 as well.
    const TWindowScale s = ScaleWindow(100, [](int) { return 13; });
    EXPECT_EQ(s.FontHeight, -11);
    EXPECT_EQ(s.ClientWidth, 978);
}

TEST(ScaleWindow, MeasuredHeightAloneScalesAtTheDesignResolution) {
    const TWindowScale s = ScaleWindow(96, [](int) { return 12; });
    EXPECT_EQ(s.FontHeight, -11);
    EXPECT_EQ(s.ClientWidth, 903);   // 902.77
    EXPECT_EQ(s.ClientHeight, 671);  // 671.08
}

TEST(CentreWindow, CentresOnTheWorkArea) {
    const TPoint p = CentreWindow({0, 0, 1600, 1000}, 978, 727, 0, 0);
    EXPECT_EQ(p.X, 311);
    EXPECT_EQ(p.Y, 136);
    const TPoint q = CentreWindow({100, 40, 1700, 1040}, 978, 727, 0, 0);
    EXPECT_EQ(q.X, 411);
    EXPECT_EQ(q.Y, 176);
}

TEST(CentreWindow, TruncatesTowardZeroForAWindowLargerThanTheWorkArea) {
    // (800 - 979) / 2 is -89.5: truncated to -89, not floored to -90.
    const TPoint p = CentreWindow({0, 0, 800, 600}, 979, 727, -1920, -1080);
    EXPECT_EQ(p.X, -89);
    EXPECT_EQ(p.Y, -63);
}

TEST(CentreWindow, ClampsToTheVirtualDesktopOrigin) {
    const TPoint p = CentreWindow({0, 0, 800, 600}, 978, 727, 0, 0);
    EXPECT_EQ(p.X, 0);
    EXPECT_EQ(p.Y, 0);
    const TPoint q = CentreWindow({0, 0, 800, 600}, 978, 727, -50, -20);
    EXPECT_EQ(q.X, -50);
    EXPECT_EQ(q.Y, -20);
}

TEST(StartupShow, MapsTheShowRequestToAStateAndItsShowCommand) {
    EXPECT_EQ(StartupShowState(3), TShowState::Maximized);
    EXPECT_EQ(StartupShowState(7), TShowState::Minimized);
    EXPECT_EQ(StartupShowState(2), TShowState::Normal);
    EXPECT_EQ(StartupShowState(0), TShowState::Normal);
    EXPECT_EQ(StartupShowState(std::nullopt), TShowState::Normal);
    EXPECT_EQ(ShowCommand(TShowState::Maximized), 3);
    EXPECT_EQ(ShowCommand(TShowState::Minimized), 7);
    EXPECT_EQ(ShowCommand(TShowState::Normal), 1);
}

TEST(ErrorBoxText, AppendsADotAfterCharactersAboveTheDot) {
    EXPECT_EQ(ErrorBoxText("Connect timed out."), "Connect timed out.");
    EXPECT_EQ(ErrorBoxText("Path /"), "Path /.");
    EXPECT_EQ(ErrorBoxText("Range -"), "Range -");
    EXPECT_EQ(ErrorBoxText("Socket Error # 10061\r\n"), "Socket Error # 10061\r\n");
    EXPECT_EQ(ErrorBoxText("Failed"), "Failed.");
    EXPECT_EQ(ErrorBoxText(""), "");
}

TEST(ErrorBoxText, NonAsciiLastLetterGetsADot) {
    EXPECT_EQ(ErrorBoxText("Caf\xC3\xA9"), "Caf\xC3\xA9.");
    EXPECT_EQ(ErrorBoxText("\xF0\x9F\x98\x80"), "\xF0\x9F\x98\x80.");
}

TEST(InnermostMessage, UnwrapsNestedExceptions) {
    bool caught = false;
    try {
        try {
            try {
                throw EIdConnectTimeout();
            } catch (...) {
                std::throw_with_nested(std::runtime_error("report failed"));
            }
        } catch (...) {
            std::throw_with_nested(Exception("activation failed"));
        }
    } catch (const std::exception& e) {
        caught = true;
        EXPECT_EQ(InnermostMessage(e), "Connect timed out.");
    }
    EXPECT_TRUE(caught);
}

TEST(InnermostMessage, NestedNonExceptionLeavesTheOuterMessage) {
    bool caught = false;
    try {
        try {
            throw 42;
        } catch (...) {
            std::throw_with_nested(std::runtime_error("outer"));
        }
    } catch (const std::exception& e) {
        caught = true;
        EXPECT_EQ(InnermostMessage(e), "outer");
    }
    EXPECT_TRUE(caught);
}

}  // namespace
}  // namespace quorvel
