// The Windows folder calls of the install marker.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "http/windows/windows_text.h"
#include "report/install_marker.h"

namespace quorvel {
namespace {

// A fresh folder under the temporary folder, removed with what it holds.
class WindowsFolders : public ::testing::Test {
protected:
    IFolders& folders = PlatformFolders();
    std::string root;

    void SetUp() override {
        wchar_t temp[MAX_PATH + 1] = {};
        ASSERT_GT(::GetTempPathW(MAX_PATH + 1, temp), 0u);
        root = Narrow(temp) + "quorvel-folders-" + std::to_string(::GetCurrentProcessId()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name();
        ASSERT_TRUE(::CreateDirectoryW(Wide(root).c_str(), nullptr));
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(std::filesystem::path(Wide(root)), ignored);
    }
};

TEST_F(WindowsFolders, LocalAppDataIsTheShellFolderWithoutTrailingBackslash) {
    wchar_t expected[MAX_PATH + 1] = {};
    ASSERT_EQ(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, expected), S_OK);
    const std::string path = folders.LookupLocalAppData();
    EXPECT_EQ(path, Narrow(expected));
    ASSERT_FALSE(path.empty());
    EXPECT_NE(path.back(), '\\');
    EXPECT_TRUE(folders.FolderExists(path));
    EXPECT_EQ(GetLocalAppDataPath(), path);
}

TEST_F(WindowsFolders, SeparatorIsBackslashAndFallbackIsDriveD) {
    EXPECT_EQ(folders.Separator(), '\\');
    EXPECT_EQ(folders.FallbackBaseFolder(), "D:\\");
    EXPECT_EQ(InstallMarkerPath(folders, "C:\\data", "w1"), "C:\\data\\w1");
    EXPECT_EQ(InstallMarkerPath(folders, "D:\\", "w1"), "D:\\\\w1");
}

TEST_F(WindowsFolders, OnlyAFolderCountsAsTheMarker) {
    const std::string file = root + "\\w1";
    std::ofstream(Wide(file).c_str()) << "not a folder";
    EXPECT_FALSE(folders.FolderExists(file));
    EXPECT_FALSE(folders.CreateFolder(file));
    EXPECT_FALSE(folders.FolderExists(root + "\\missing"));
    EXPECT_TRUE(folders.FolderExists(root));
}

TEST_F(WindowsFolders, CreateMakesOneLevelAndRefusesAnExistingName) {
    const std::string marker = root + "\\w1";
    EXPECT_TRUE(folders.CreateFolder(marker));
    EXPECT_TRUE(folders.FolderExists(marker));
    EXPECT_FALSE(folders.CreateFolder(marker));
    EXPECT_FALSE(folders.CreateFolder(root + "\\no\\parent"));
    EXPECT_FALSE(folders.FolderExists(root + "\\no"));
}

TEST_F(WindowsFolders, NonAsciiTagsReachTheFileSystemAsUtf16) {
    const std::string tag = "t\xC3\xA4g \xE2\x82\xAC";  // "täg €"
    const std::string marker = root + "\\" + tag;
    ASSERT_TRUE(folders.CreateFolder(marker));
    const DWORD attributes = ::GetFileAttributesW((Wide(root) + L"\\t\u00E4g \u20AC").c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_NE(attributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_TRUE(folders.FolderExists(marker));
}

}  // namespace
}  // namespace quorvel
