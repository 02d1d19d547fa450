// The Windows folder calls of the install marker.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "http/windows/windows_text.h"
#include "report/install_marker.h"

namespace quorvel {
namespace {

// CSIDL_LOCAL_APPDATA with CSIDL_FLAG_CREATE: the folder is made when missing.
constexpr int kLocalAppDataCreate = 0x801C;
constexpr std::size_t kPathUnits = 261;

class TWindowsFolders final : public IFolders {
public:
    std::string LookupLocalAppData() override {
        wchar_t buffer[kPathUnits] = {};
        if (FAILED(::SHGetFolderPathW(nullptr, kLocalAppDataCreate, nullptr, SHGFP_TYPE_CURRENT, buffer)))
            return std::string();
        std::size_t length = 0;
        while (length < kPathUnits && buffer[length] != L'\0') ++length;
        return Narrow(std::wstring_view(buffer, length));
    }

    std::string FallbackBaseFolder() const override { return "D:\\"; }

    char Separator() const override { return '\\'; }

    bool FolderExists(const std::string& path) override {
        const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    }

    bool CreateFolder(const std::string& path) override {
        return ::CreateDirectoryW(Wide(path).c_str(), nullptr) != FALSE;
    }
};

}  // namespace

IFolders& PlatformFolders() {
    static TWindowsFolders folders;
    return folders;
}

}  // namespace quorvel
