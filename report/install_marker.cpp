#include "report/install_marker.h"

namespace quorvel {

std::string GetLocalAppDataPath(IFolders& folders) {
    std::string path = folders.LookupLocalAppData();
    if (path.empty()) return folders.FallbackBaseFolder();
    return path;
}

std::string GetLocalAppDataPath() { return GetLocalAppDataPath(PlatformFolders()); }

std::string InstallMarkerPath(const IFolders& folders, const std::string& base,
                              const std::string& sourceTag) {
    return base + folders.Separator() + sourceTag;
}

std::string FormatTemplate(const std::string& pattern, const std::vector<std::string>& values) {
    std::string out;
    std::size_t next = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '%' && i + 1 < pattern.size()) {
            if (pattern[i + 1] == 's') {
                if (next < values.size()) out += values[next++];
                ++i;
                continue;
            }
            if (pattern[i + 1] == '%') {
                out += '%';
                ++i;
                continue;
            }
        }
        out += pattern[i];
    }
    return out;
}

std::string BuildInstallReportUrl(const std::string& reportHost, const std::string& softId,
                                  const std::string& sourceTag, const std::string& deviceCode) {
    // The host is a fixed value of the build and part of the template.
    const std::string pattern =
        "http://" + reportHost + "/api/report/install?soft_id=%s&source=%s&device_code=%s";
    return FormatTemplate(pattern, {softId, sourceTag + "_test", deviceCode});
}

bool CheckInstallMarker(const TInstallReport& report, const std::string& softId,
                        const std::string& sourceTag) {
    IFolders& folders = *report.Folders;
    const std::string marker = InstallMarkerPath(folders, GetLocalAppDataPath(folders), sourceTag);
    if (folders.FolderExists(marker)) return false;
    // Created before the report whatever its outcome, so a failed report is
    // never repeated; a failed creation makes the next run report again.
    (void)folders.CreateFolder(marker);
    const std::string url = BuildInstallReportUrl(report.ReportHost, softId, sourceTag,
                                                  report.MakeDeviceCode());
    (void)report.HttpGetOk(url);
    return true;
}

}  // namespace quorvel
