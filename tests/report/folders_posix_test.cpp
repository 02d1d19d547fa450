#include <gtest/gtest.h>

#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "report/install_marker.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;

// Sets or clears an environment variable for one test, then puts it back.
class TScopedEnv {
public:
    TScopedEnv(const char* name, const char* value) : FName(name) {
        if (const char* old = getenv(name)) FOld = old;
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~TScopedEnv() {
        if (FOld) {
            setenv(FName, FOld->c_str(), 1);
        } else {
            unsetenv(FName);
        }
    }
    TScopedEnv(const TScopedEnv&) = delete;
    TScopedEnv& operator=(const TScopedEnv&) = delete;

private:
    const char* FName;
    std::optional<std::string> FOld;
};

class PosixFolders : public ::testing::Test {
protected:
    fs::path root;
    IFolders& folders = PlatformFolders();

    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "quorvel-folders-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root = pattern;
    }
    void TearDown() override { fs::remove_all(root); }

    static unsigned Mode(const fs::path& p) {
        struct stat info {};
        EXPECT_EQ(stat(p.c_str(), &info), 0) << p;
        return info.st_mode & 07777u;
    }
};

TEST_F(PosixFolders, AbsoluteDataHomeIsCreatedPrivateLevelByLevel) {
    const fs::path data = root / "a" / "b";
    TScopedEnv env("XDG_DATA_HOME", (data.string() + "/").c_str());
    EXPECT_EQ(folders.LookupLocalAppData(), data.string());
    EXPECT_EQ(Mode(root / "a"), 0700u);
    EXPECT_EQ(Mode(data), 0700u);
}

TEST_F(PosixFolders, RelativeDataHomeIsIgnoredForTheHomeFolder) {
    TScopedEnv env("XDG_DATA_HOME", "relative/data");
    TScopedEnv home("HOME", root.c_str());
    EXPECT_EQ(folders.LookupLocalAppData(), (root / ".local" / "share").string());
    EXPECT_EQ(Mode(root / ".local" / "share"), 0700u);
}

TEST_F(PosixFolders, UnsetHomeIsTakenFromThePasswordDatabase) {
    TScopedEnv env("XDG_DATA_HOME", nullptr);
    TScopedEnv home("HOME", nullptr);
    const passwd* entry = getpwuid(getuid());
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(folders.LookupLocalAppData(), std::string(entry->pw_dir) + "/.local/share");
}

TEST_F(PosixFolders, FolderThatCannotBeMadeFailsTheLookupAndFallsBack) {
    std::ofstream(root / "file") << "x";
    TScopedEnv env("XDG_DATA_HOME", (root / "file" / "data").c_str());
    EXPECT_EQ(folders.LookupLocalAppData(), "");
    EXPECT_EQ(GetLocalAppDataPath(folders), "/tmp");
}

TEST_F(PosixFolders, OnlyAFolderCountsAsExisting) {
    std::ofstream(root / "file") << "x";
    fs::create_directory(root / "dir");
    EXPECT_TRUE(folders.FolderExists((root / "dir").string()));
    EXPECT_TRUE(folders.FolderExists((root / "dir").string() + "/"));
    EXPECT_FALSE(folders.FolderExists((root / "file").string()));
    EXPECT_FALSE(folders.FolderExists((root / "missing").string()));
    EXPECT_EQ(folders.Separator(), '/');
}

TEST_F(PosixFolders, CreatesOneLevelOnlyForTheUserAlone) {
    EXPECT_TRUE(folders.CreateFolder((root / "t1").string()));
    EXPECT_TRUE(fs::is_directory(root / "t1"));
    EXPECT_EQ(Mode(root / "t1"), 0700u);
    EXPECT_FALSE(folders.CreateFolder((root / "t1").string()));
    EXPECT_FALSE(folders.CreateFolder((root / "x" / "y").string()));
    EXPECT_FALSE(fs::exists(root / "x"));
    std::ofstream(root / "f") << "x";
    EXPECT_FALSE(folders.CreateFolder((root / "f").string()));
}

}  // namespace
}  // namespace quorvel
