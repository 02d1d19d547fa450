#include "shell/gtk/zoom_level.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cmath>

#include "shell/gtk/glib_ptr.h"

namespace quorvel::gtk {
namespace {

// Percent, as the file holds them: locale-free and exact.
constexpr std::array<int, 14> kSteps{30, 50, 67, 80, 90, 100, 110, 120, 133, 150, 170, 200, 240, 300};
// Half a percent: a level read back from WebKit may differ in the last bits.
constexpr double kSlack = 0.005;
// Only the first few bytes: whatever else sits in the file is not a level.
constexpr std::size_t kMostRead = 8;

// The first bytes of a regular file. Anything else (a FIFO, a device, a
// folder) could block the start or never end, and holds no level anyway.
std::string ReadStart(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return std::string();
    std::string text;
    struct stat info {};
    if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        std::array<char, kMostRead> buffer{};
        const ssize_t got = read(fd, buffer.data(), buffer.size());
        if (got > 0) text.assign(buffer.data(), static_cast<std::size_t>(got));
    }
    close(fd);
    return text;
}

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

std::optional<int> ParseZoomPercent(const std::string& text) {
    int percent = 0;
    std::size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && percent <= kSteps.back(); ++i) {
        percent = percent * 10 + (text[i] - '0');
    }
    const bool ends = i == text.size() || (i + 1 == text.size() && text[i] == '\n');
    if (i == 0 || !ends || percent < kSteps.front() || percent > kSteps.back()) return std::nullopt;
    return percent;
}

double TZoomLevel::Load() const {
    const std::optional<int> percent = ParseZoomPercent(ReadStart(FPath));
    return percent ? *percent / 100.0 : kZoomNormal;
}

void TZoomLevel::Save(double level) const {
    g_mkdir_with_parents(TGCharPtr{g_path_get_dirname(FPath.c_str())}.get(), 0700);
    const std::string text = std::to_string(std::lround(level * 100)) + "\n";
    // Written beside and renamed over, so a crash never leaves half a level;
    // for the user alone, as the rest of the browser's folder.
    g_file_set_contents_full(FPath.c_str(), text.data(), static_cast<gssize>(text.size()),
                             G_FILE_SET_CONTENTS_CONSISTENT, 0600, nullptr);
}

}  // namespace quorvel::gtk
