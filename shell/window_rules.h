// Size, position, show state and error box text of the main window: the
// arithmetic that every platform shares.
#pragma once

#include <exception>
#include <functional>
#include <optional>
#include <string>

namespace quorvel {

// a * b / c rounded to the nearest integer, halves away from zero, through a
// 64-bit product. -1 when c is 0 or the result does not fit, as the platform's
// MulDiv answers.
int MulDiv(int a, int b, int c);

struct TWindowScale {
    int FontHeight;  // pixels, negative: character height
    int ClientWidth;
    int ClientHeight;
};

inline constexpr int kDesignPixelsPerInch = 96;
inline constexpr int kDesignFontHeight = -11;
inline constexpr int kDesignTextHeight = 13;
inline constexpr int kDesignClientWidth = 978;
inline constexpr int kDesignClientHeight = 727;

// measureTextHeight: the height of "0" in the font of the given height.
TWindowScale ScaleWindow(int pixelsPerInch, const std::function<int(int fontHeight)>& measureTextHeight);

struct TRect {
    int Left;
    int Top;
    int Right;
    int Bottom;
};

struct TPoint {
    int X;
    int Y;
};

// Centre of the work area for a window of outer size w x h, never left of or
// above the virtual desktop's origin.
TPoint CentreWindow(const TRect& workArea, int w, int h, int virtualLeft, int virtualTop);

enum class TShowState { Normal, Minimized, Maximized };

inline constexpr int kShowNormal = 1;
inline constexpr int kShowMaximized = 3;
inline constexpr int kShowMinNoActive = 7;

// The start-up show request: the show value when the start-up flags mark it
// present, std::nullopt otherwise.
TShowState StartupShowState(std::optional<int> showValue);
// The platform show command for a state: normal 1, minimised 7, maximised 3.
int ShowCommand(TShowState state);

// The error box text: "." appended when the last character's code is above "."'s.
std::string ErrorBoxText(const std::string& message);

// The message of the innermost nested exception.
std::string InnermostMessage(const std::exception& error);

}  // namespace quorvel
