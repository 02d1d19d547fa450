// The install marker folder and the install report's address: the steps the
// main window's first activation runs, over a small folder interface.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace quorvel {

// The folder calls of the running platform (report/posix/ or report/windows/).
class IFolders {
public:
    virtual ~IFolders() = default;
    // The user's local application-data folder, created when missing, without
    // a trailing separator; empty when the lookup fails.
    virtual std::string LookupLocalAppData() = 0;
    // The base folder when the lookup fails or yields nothing.
    virtual std::string FallbackBaseFolder() const = 0;
    virtual char Separator() const = 0;
    // True only for a folder: a file of that name does not count.
    virtual bool FolderExists(const std::string& path) = 0;
    // Creates one level; false when the parent is missing or the name exists.
    virtual bool CreateFolder(const std::string& path) = 0;
};

IFolders& PlatformFolders();

std::string GetLocalAppDataPath(IFolders& folders);
std::string GetLocalAppDataPath();

// base + one separator + tag, whatever base ends with.
std::string InstallMarkerPath(const IFolders& folders, const std::string& base,
                              const std::string& sourceTag);

// Replaces each "%s" of the template with the next value, as given: a "%" in a
// value is copied, never read as a placeholder. "%%" stands for "%".
std::string FormatTemplate(const std::string& pattern, const std::vector<std::string>& values);

// "http://" + host + "/api/report/install?soft_id=...&source=<tag>_test&device_code=..."
std::string BuildInstallReportUrl(const std::string& reportHost, const std::string& softId,
                                  const std::string& sourceTag, const std::string& deviceCode);

// What the install check calls; the shell passes the real device code and
// exchange, tests their doubles.
struct TInstallReport {
    IFolders* Folders = nullptr;
    std::string ReportHost;
    std::function<std::string()> MakeDeviceCode;
    std::function<bool(const std::string& url)> HttpGetOk;
};

// The activation steps: marker present -> nothing; otherwise create it
// (failure ignored), make a device code, send the report (result ignored).
// Returns true when a report was attempted. Errors of HttpGetOk pass on.
bool CheckInstallMarker(const TInstallReport& report, const std::string& softId,
                        const std::string& sourceTag);

}  // namespace quorvel
