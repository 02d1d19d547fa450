#include "report/install_marker.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_folders.h"

namespace quorvel {
namespace {

using testing::TFakeFolders;

TEST(InstallReportUrl, FillsSoftIdSourceAndDeviceCodeInOrder) {
    EXPECT_EQ(BuildInstallReportUrl("report.example", "quorvel_win", "none", "202401020304053137"),
              "http://report.example/api/report/install?soft_id=quorvel_win&source=none_test"
              "&device_code=202401020304053137");
    EXPECT_EQ(BuildInstallReportUrl("127.0.0.1:18081", "quorvel_win", "", "1"),
              "http://127.0.0.1:18081/api/report/install?soft_id=quorvel_win&source=_test&device_code=1");
}

TEST(InstallReportUrl, InsertsValuesAsTheyAreWithoutReadingPercentAgain) {
    EXPECT_EQ(BuildInstallReportUrl("h", "quorvel_win", "a b&c#%s%d\xC3\xA9", "7"),
              "http://h/api/report/install?soft_id=quorvel_win&source=a b&c#%s%d\xC3\xA9_test&device_code=7");
    EXPECT_EQ(FormatTemplate("%s|%s|100%%", {"%s", "x"}), "%s|x|100%");
    EXPECT_EQ(FormatTemplate("%s-%s", {"only"}), "only-");
}

TEST(LocalAppDataPath, FallsBackWhenTheLookupYieldsNothing) {
    TFakeFolders folders;
    EXPECT_EQ(GetLocalAppDataPath(folders), "/home/u/.local/share");
    folders.Base = "";
    EXPECT_EQ(GetLocalAppDataPath(folders), "D:\\");
}

TEST(LocalAppDataPath, MarkerPathInsertsExactlyOneSeparator) {
    TFakeFolders folders;
    EXPECT_EQ(InstallMarkerPath(folders, "/data", "t1"), "/data/t1");
    EXPECT_EQ(InstallMarkerPath(folders, "/data/", "t1"), "/data//t1");
    EXPECT_EQ(InstallMarkerPath(folders, "/data", ""), "/data/");
}

class InstallCheck : public ::testing::Test {
protected:
    TFakeFolders folders;
    std::vector<std::string> trace;
    bool result = true;
    TInstallReport report;

    void SetUp() override {
        folders.Trace = &trace;
        report.Folders = &folders;
        report.ReportHost = "r.example";
        report.MakeDeviceCode = [this] {
            trace.push_back("device code");
            return std::string("20240102030405");
        };
        report.HttpGetOk = [this](const std::string& url) {
            trace.push_back("get " + url);
            return result;
        };
    }

    int Reports() const {
        int n = 0;
        for (const auto& t : trace) n += t.rfind("get ", 0) == 0;
        return n;
    }
};

TEST_F(InstallCheck, MissingMarkerIsCreatedBeforeTheDeviceCodeAndTheReport) {
    result = false;  // the outcome changes nothing
    EXPECT_TRUE(CheckInstallMarker(report, "quorvel_win", "t1"));
    const std::vector<std::string> expected{
        "exists /home/u/.local/share/t1",
        "create /home/u/.local/share/t1",
        "device code",
        "get http://r.example/api/report/install?soft_id=quorvel_win&source=t1_test&device_code=20240102030405",
    };
    EXPECT_EQ(trace, expected);
    trace.clear();
    EXPECT_FALSE(CheckInstallMarker(report, "quorvel_win", "t1"));
    EXPECT_EQ(trace, std::vector<std::string>{"exists /home/u/.local/share/t1"});
}

TEST_F(InstallCheck, FileInPlaceOfTheMarkerReportsOnEveryRun) {
    folders.Files.push_back("/home/u/.local/share/t1");
    EXPECT_TRUE(CheckInstallMarker(report, "quorvel_win", "t1"));
    EXPECT_TRUE(CheckInstallMarker(report, "quorvel_win", "t1"));
    EXPECT_EQ(Reports(), 2);
}

TEST_F(InstallCheck, EmptyTagFindsTheBaseFolderAndNeverReports) {
    EXPECT_FALSE(CheckInstallMarker(report, "", ""));
    EXPECT_EQ(Reports(), 0);
}

TEST_F(InstallCheck, FailedLookupPutsTheMarkerUnderTheFallbackFolder) {
    folders.Base = "";
    CheckInstallMarker(report, "quorvel_win", "none");
    EXPECT_EQ(trace.front(), "exists D:\\/none");
    EXPECT_EQ(Reports(), 1);
}

}  // namespace
}  // namespace quorvel
