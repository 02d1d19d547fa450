// The page zoom in the steps browsers use, kept for the next start in one
// small file of the browser's data folder.
#pragma once

#include <optional>
#include <string>

namespace quorvel::gtk {

// Zoom levels as WebKit takes them (1.0 is 100 %).
double ZoomInStep(double level);
double ZoomOutStep(double level);
constexpr double kZoomNormal = 1.0;

// The zoom file's text as a percentage: one of the steps' range with at
// most a final line feed; anything else is no level.
std::optional<int> ParseZoomPercent(const std::string& text);

class TZoomLevel {
public:
    explicit TZoomLevel(std::string path) : FPath(std::move(path)) {}

    // The level kept by an earlier run; 100 % when there is none, or the file
    // is no regular file or holds anything but a level.
    double Load() const;
    // Kept on a best-effort basis: a level that cannot be written is still
    // in force for this run.
    void Save(double level) const;

private:
    std::string FPath;
};

}  // namespace quorvel::gtk
