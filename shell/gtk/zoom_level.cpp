#include "shell/gtk/zoom_level.h"

#include <glib.h>

#include <array>
#include <cmath>
#include <fstream>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {
namespace {

// Percent, as the file holds them: locale-free and exact.
constexpr std::array<int, 14> kSteps{30, 50, 67, 80, 90, 100, 110, 120, 133, 150, 170, 200, 240, 300};
// Half a percent: a level read back from WebKit may differ in the last bits.
constexpr double kSlack = 0.005;

}  // namespace

double ZoomInStep(double level) {
    for (int step : kSteps) {
        if (step / 100.0 > level + kSlack) return step / 100.0;
    }
    return kSteps.back() / 100.0;
}

double ZoomOutStep(double level) {
    for (auto step = kSteps.rbegin(); step != kSteps.rend(); ++step) {
        if (*step / 100.0 < level - kSlack) return *step / 100.0;
    }
    return kSteps.front() / 100.0;
}

double TZoomLevel::Load() const {
    // Only the first few bytes: whatever else sits in the file is not a level.
    std::ifstream file(FPath, std::ios::binary);
    std::array<char, 8> text{};
    file.read(text.data(), text.size());
    const std::streamsize length = file.gcount();
    int percent = 0;
    std::streamsize i = 0;
    for (; i < length && text[i] >= '0' && text[i] <= '9' && percent <= kSteps.back(); ++i) {
        percent = percent * 10 + (text[i] - '0');
    }
    const bool ends = i == length || (i + 1 == length && text[i] == '\n');
    if (i == 0 || !ends || percent < kSteps.front() || percent > kSteps.back()) return kZoomNormal;
    return percent / 100.0;
}

void TZoomLevel::Save(double level) const {
    g_mkdir_with_parents(TGCharPtr{g_path_get_dirname(FPath.c_str())}.get(), 0700);
    const std::string text = std::to_string(std::lround(level * 100)) + "\n";
    // Written beside and renamed over, so a crash never leaves half a level.
    g_file_set_contents(FPath.c_str(), text.data(), static_cast<gssize>(text.size()), nullptr);
}

}  // namespace quorvel::gtk
