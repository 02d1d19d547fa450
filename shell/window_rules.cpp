#include "shell/window_rules.h"

#include <climits>
#include <cstdint>

namespace quorvel {

int MulDiv(int a, int b, int c) {
    if (c == 0) return -1;
    std::int64_t product = std::int64_t{a} * b;
    std::int64_t divisor = c;
    if (divisor < 0) {
        product = -product;
        divisor = -divisor;
    }
    // Moving the numerator half a divisor away from zero before the truncating
    // division rounds halves away from zero.
    const std::int64_t half = divisor / 2;
    const std::int64_t result = (product < 0 ? product - half : product + half) / divisor;
    if (result > INT_MAX || result < INT_MIN) return -1;
    return static_cast<int>(result);
}

TWindowScale ScaleWindow(int pixelsPerInch,
                         const std::function<int(int fontHeight)>& measureTextHeight) {
    TWindowScale scale{kDesignFontHeight, kDesignClientWidth, kDesignClientHeight};
    const int defaultFontHeight = -MulDiv(8, pixelsPerInch, 72);
    if (pixelsPerInch != kDesignPixelsPerInch && kDesignFontHeight != defaultFontHeight) {
        scale.FontHeight = MulDiv(kDesignFontHeight, pixelsPerInch, kDesignPixelsPerInch);
    }
    const int measured = measureTextHeight(scale.FontHeight);
    if (measured != kDesignTextHeight) {
        scale.ClientWidth = MulDiv(kDesignClientWidth, measured, kDesignTextHeight);
        scale.ClientHeight = MulDiv(kDesignClientHeight, measured, kDesignTextHeight);
    }
    return scale;
}

TPoint CentreWindow(const TRect& workArea, int w, int h, int virtualLeft, int virtualTop) {
    // C++ division truncates toward zero, as the rule asks for windows larger
    // than the work area.
    TPoint p{workArea.Left + (workArea.Right - workArea.Left - w) / 2,
             workArea.Top + (workArea.Bottom - workArea.Top - h) / 2};
    if (p.X < virtualLeft) p.X = virtualLeft;
    if (p.Y < virtualTop) p.Y = virtualTop;
    return p;
}

TShowState StartupShowState(std::optional<int> showValue) {
    if (!showValue) return TShowState::Normal;
    switch (*showValue) {
        case kShowMaximized:
            return TShowState::Maximized;
        case kShowMinNoActive:
            return TShowState::Minimized;
        default:
            return TShowState::Normal;
    }
}

int ShowCommand(TShowState state) {
    switch (state) {
        case TShowState::Maximized:
            return kShowMaximized;
        case TShowState::Minimized:
            return kShowMinNoActive;
        case TShowState::Normal:
            break;
    }
    return kShowNormal;
}

std::string ErrorBoxText(const std::string& message) {
    if (message.empty()) return message;
    // The last byte of a UTF-8 non-ASCII character is above 127, as is the
    // character's code, so the last byte decides for every character.
    const auto last = static_cast<unsigned char>(message.back());
    return last > '.' ? message + "." : message;
}

std::string InnermostMessage(const std::exception& error) {
    try {
        std::rethrow_if_nested(error);
    } catch (const std::exception& inner) {
        return InnermostMessage(inner);
    } catch (...) {
        // Nested, but not an exception with a message: this one is the innermost readable.
    }
    return error.what();
}

}  // namespace quorvel
