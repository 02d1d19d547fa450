// The Linux folder calls of the install marker. The local application-data
// folder is the XDG data folder, created private when missing, as the Windows
// lookup creates its folder.
#include <errno.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "report/install_marker.h"

namespace quorvel {
namespace {

bool IsAbsolute(const char* path) { return path != nullptr && path[0] == '/'; }

std::string HomeFolder() {
    const char* home = getenv("HOME");
    if (IsAbsolute(home)) return home;
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<std::size_t>(size) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || found == nullptr ||
        !IsAbsolute(found->pw_dir)) {
        return std::string();
    }
    return found->pw_dir;
}

std::string WithoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool IsFolder(const std::string& path) {
    struct stat info {};
    return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Creates every missing level with mode 0700.
bool EnsureFolder(const std::string& path) {
    if (IsFolder(path)) return true;
    for (std::size_t cut = path.find('/', 1);; cut = path.find('/', cut + 1)) {
        const std::string level = path.substr(0, cut);
        if (!IsFolder(level) && mkdir(level.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (cut == std::string::npos) break;
    }
    return IsFolder(path);
}

class TPosixFolders final : public IFolders {
public:
    std::string LookupLocalAppData() override {
        std::string base;
        const char* dataHome = getenv("XDG_DATA_HOME");
        if (IsAbsolute(dataHome)) {
            base = dataHome;
        } else {
            const std::string home = HomeFolder();
            if (home.empty()) return std::string();
            base = WithoutTrailingSlashes(home) + "/.local/share";
        }
        base = WithoutTrailingSlashes(base);
        return EnsureFolder(base) ? base : std::string();
    }

    // Without a home there is no per-user folder; the temporary folder keeps
    // the marker somewhere writable rather than in the working folder.
    std::string FallbackBaseFolder() const override { return "/tmp"; }

    char Separator() const override { return '/'; }

    bool FolderExists(const std::string& path) override { return IsFolder(path); }

    // A marker is the user's own, as the folder that holds it.
    bool CreateFolder(const std::string& path) override { return mkdir(path.c_str(), 0700) == 0; }
};

}  // namespace

IFolders& PlatformFolders() {
    static TPosixFolders folders;
    return folders;
}

}  // namespace quorvel
