// The page zoom in the steps browsers use, kept for the next start in one
// small file of the browser's data folder.
#pragma once

#include <string>

namespace quorvel::gtk {

// Zoom levels as WebKit takes them (1.0 is 100 %).
double ZoomInStep(double level);
double ZoomOutStep(double level);
constexpr double kZoomNormal = 1.0;

class TZoomLevel {
public:
    explicit TZoomLevel(std::string path) : FPath(std::move(path)) {}

    // The level kept by an earlier run; 100 % when there is none or the file
    // holds anything but a level within the steps' range.
    double Load() const;
    // Kept on a best-effort basis: a level that cannot be written is still
    // in force for this run.
    void Save(double level) const;

private:
    std::string FPath;
};

}  // namespace quorvel::gtk
