#include "shell/application.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "http/exceptions.h"
#include "report/fake_folders.h"
#include "shell_app/fake_platform.h"

namespace quorvel {
namespace {

using testing::TFakeFolders;
using testing::TFakePlatform;

const char* const kMarkerUrl = "http://app.example/bye?c100100";

class ShellRun : public ::testing::Test {
protected:
    TFakePlatform platform;
    TFakeFolders folders;
    std::vector<std::string> trace;  // folder calls, device codes and reports in order
    std::vector<std::string> reports;
    bool reportResult = true;
    bool reportThrows = false;
    TBuildValues build{"app.example", "127.0.0.1:18081", "quorvel_win"};

    int Run() {
        folders.Trace = &trace;
        TShellServices services;
        services.Folders = &folders;
        services.MakeDeviceCode = [this] {
            trace.push_back("device code");
            return std::string("202401020304053137");
        };
        services.HttpGetOk = [this](const std::string& url) {
            trace.push_back("get " + url);
            reports.push_back(url);
            if (reportThrows) throw EIdException("Could not load the socket library");
            return reportResult;
        };
        return RunShell(platform, build, services);
    }

    std::size_t IndexOf(const std::string& entry) const {
        return static_cast<std::size_t>(std::find(platform.Log.begin(), platform.Log.end(), entry) -
                                        platform.Log.begin());
    }

    void ActivateOnShow() {
        platform.DuringShow = [this] { platform.Events->OnActivate(); };
    }
};

TEST_F(ShellRun, CreatesTheWindowAndBrowserInOrderPumpsThenShowsCentred) {
    EXPECT_EQ(Run(), 0);
    const std::vector<std::string> expected{
        "measure -11",
        "window 978x727",
        "browser",
        "bounds 0,0,978,727",
        "bind",
        "navigate http://app.example/quorvl/index1.html?source=t1",
        "pump",
        "show 311,136 1",
        "idle: session ended",
        "unbind",
        "destroy",
    };
    EXPECT_EQ(platform.Log, expected);
    EXPECT_EQ(platform.PumpRounds, 51);
    EXPECT_EQ(platform.Sleeps, 51);
}

TEST_F(ShellRun, MakesTheWindowTheMainWindowOnlyAfterItsCreationHandler) {
    bool checkedInPump = false;
    platform.DuringPump = [&](int round) {
        if (round != 1) return;
        checkedInPump = true;
        EXPECT_NE(Form1, nullptr);
        EXPECT_NE(WebBrowser, nullptr);
        EXPECT_EQ(Application->MainForm(), nullptr);
        EXPECT_EQ(SourceTag, "t1");
        EXPECT_EQ(SoftId, "quorvel_win");
    };
    platform.DuringShow = [&] { EXPECT_EQ(Application->MainForm(), Form1); };
    Run();
    EXPECT_TRUE(checkedInPump);
}

TEST_F(ShellRun, ScalesTheWindowAndTheViewAndClampsTheCentreToTheVirtualDesktop) {
    platform.Ppi = 120;
    platform.TextHeight = [](int fontHeight) { return fontHeight == -14 ? 17 : 13; };
    platform.WorkArea = {0, 0, 1024, 768};
    Run();
    EXPECT_TRUE(platform.Logged("window 1279x951"));
    EXPECT_TRUE(platform.Logged("bounds 0,0,1279,951"));
    EXPECT_TRUE(platform.Logged("show 0,0 1"));
}

TEST_F(ShellRun, ShowsInTheStartUpStateOrNormal) {
    platform.ShowValue = 7;
    Run();
    EXPECT_TRUE(platform.Logged("show 311,136 7"));

    TFakePlatform other;
    other.ShowValue = 2;
    RunShell(other, build, TShellServices{&folders, [] { return std::string("1"); },
                                          [](const std::string&) { return true; }});
    EXPECT_TRUE(other.Logged("show 311,136 1"));
}

// --- close ----------------------------------------------------------------

TEST_F(ShellRun, CloseDuringTheCreationHandlerOnlyHidesAndTheProgramGoesOn) {
    platform.DuringPump = [&](int round) {
        if (round == 3) platform.Events->OnCloseRequest();
    };
    platform.Messages.push_back([&] { platform.Events->OnCloseRequest(); });
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(platform.PumpRounds, 51);
    EXPECT_LT(IndexOf("hide"), IndexOf("show 311,136 1"));
    EXPECT_EQ(std::count(platform.Log.begin(), platform.Log.end(), "post quit"), 1);
    // The second close, on the main window, posts the quit; nothing is torn
    // down before the loop takes it.
    EXPECT_LT(IndexOf("show 311,136 1"), IndexOf("post quit"));
    EXPECT_EQ(IndexOf("post quit") + 1, IndexOf("quit taken"));
    EXPECT_LT(IndexOf("quit taken"), IndexOf("destroy"));
    EXPECT_FALSE(platform.Logged("idle: session ended"));
}

// --- navigation guard -----------------------------------------------------

TEST_F(ShellRun, GuardCancelsAMarkerNavigationInThePumpAndOnlyHides) {
    std::int16_t cancel = 0;
    platform.DuringPump = [&](int round) {
        if (round == 1) cancel = platform.ReportNavigation(kMarkerUrl);
    };
    Run();
    EXPECT_EQ(cancel, -1);
    EXPECT_TRUE(platform.Logged("hide"));
    EXPECT_LT(IndexOf("hide"), IndexOf("show 311,136 1"));
    EXPECT_FALSE(platform.Logged("post quit"));
}

TEST_F(ShellRun, GuardCancelsAMarkerNavigationInTheLoopAndEndsTheProgram) {
    std::vector<std::int16_t> vetoes;
    platform.Messages.push_back([&] { vetoes.push_back(platform.ReportNavigation("http://app.example/inbox")); });
    platform.Messages.push_back([&] {
        vetoes.push_back(platform.ReportNavigation("http://app.example/?C100100"));
        vetoes.push_back(platform.ReportNavigation("http://app.example/?c10010"));
        vetoes.push_back(platform.ReportNavigation(""));
    });
    platform.Messages.push_back([&] {
        vetoes.push_back(platform.ReportNavigation(kMarkerUrl));
        // Closing only posts the quit: the browser is still inside its event.
        EXPECT_FALSE(platform.Logged("destroy"));
    });
    platform.Messages.push_back([] { ADD_FAILURE() << "the loop went on after the quit"; });
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(vetoes, (std::vector<std::int16_t>{0, 0, 0, 0, -1}));
    EXPECT_TRUE(platform.Logged("quit taken"));
    EXPECT_FALSE(platform.Logged("hide"));
}

TEST_F(ShellRun, GuardHasCancelledBeforeAnErrorInTheCloseIsShown) {
    platform.FailHide = true;
    std::int16_t cancel = 0;
    platform.DuringPump = [&](int round) {
        if (round == 1) cancel = platform.ReportNavigation(kMarkerUrl);
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(cancel, -1);
    EXPECT_EQ(platform.ErrorBoxes, std::vector<std::string>{"Quorvel_t1|hide failed."});
    EXPECT_TRUE(platform.Logged("show 311,136 1"));
}

TEST_F(ShellRun, GuardIgnoresNavigationsReportedBeforeItsSlotIsBound) {
    std::int16_t early = 5;
    platform.DuringBounds = [&] { early = platform.ReportNavigation(kMarkerUrl); };
    Run();
    EXPECT_EQ(early, 0);
    EXPECT_FALSE(platform.Logged("hide"));
}

// --- creation handler errors ------------------------------------------------

TEST_F(ShellRun, BrowserFailureSkipsTheRestOfCreationLeavesTheTagsEmptyAndStillShows) {
    platform.FailCreateBrowser = true;
    std::string tagAtShow = "unset";
    std::string softIdAtShow = "unset";
    platform.DuringShow = [&] {
        tagAtShow = SourceTag;
        softIdAtShow = SoftId;
        platform.Events->OnActivate();
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(platform.ErrorBoxes, std::vector<std::string>{"Quorvel_t1|Class not registered."});
    EXPECT_EQ(tagAtShow, "");
    EXPECT_EQ(softIdAtShow, "");
    EXPECT_FALSE(platform.Logged("navigate http://app.example/quorvl/index1.html?source=t1"));
    EXPECT_EQ(platform.Sleeps, 0);
    EXPECT_TRUE(platform.Logged("show 311,136 1"));
    // The marker path is the base folder and a separator: it exists.
    EXPECT_EQ(trace, std::vector<std::string>{"exists /home/u/.local/share/"});
    EXPECT_TRUE(reports.empty());
}

// --- activation and the install report -------------------------------------

TEST_F(ShellRun, FirstActivationCreatesTheMarkerThenReportsOnce) {
    ActivateOnShow();
    platform.Messages.push_back([&] { platform.Events->OnActivate(); });
    platform.Messages.push_back([&] { platform.Events->OnActivate(); });
    Run();
    const std::vector<std::string> expected{
        "exists /home/u/.local/share/t1",
        "create /home/u/.local/share/t1",
        "device code",
        "get http://127.0.0.1:18081/api/report/install?soft_id=quorvel_win&source=t1_test"
        "&device_code=202401020304053137",
    };
    EXPECT_EQ(trace, expected);
}

TEST_F(ShellRun, ActivationWaitsForTheFirstFocus) {
    platform.ShowValue = 7;  // minimised: shown without the focus
    std::size_t reportsBeforeFocus = 99;
    platform.Messages.push_back([&] { reportsBeforeFocus = reports.size(); });
    platform.Messages.push_back([&] { platform.Events->OnActivate(); });
    Run();
    EXPECT_EQ(reportsBeforeFocus, 0u);
    EXPECT_EQ(reports.size(), 1u);
}

TEST_F(ShellRun, MarkerPresentMeansNoDeviceCodeAndNoReport) {
    folders.Folders.push_back("/home/u/.local/share/t1");
    ActivateOnShow();
    Run();
    EXPECT_EQ(trace, std::vector<std::string>{"exists /home/u/.local/share/t1"});
}

TEST_F(ShellRun, ErrorOfTheReportIsShownAfterTheMarkerWasCreatedAndTheProgramGoesOn) {
    reportThrows = true;
    ActivateOnShow();
    bool loopRan = false;
    platform.Messages.push_back([&] { loopRan = true; });
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(platform.ErrorBoxes, std::vector<std::string>{"Quorvel_t1|Could not load the socket library."});
    EXPECT_TRUE(loopRan);
    EXPECT_TRUE(folders.FolderExists("/home/u/.local/share/t1"));
}

// --- end of session and exit ------------------------------------------------

TEST_F(ShellRun, EndOfSessionDuringThePumpEndsWithoutShowOrReport) {
    ActivateOnShow();
    platform.DuringPump = [&](int round) {
        if (round == 5) platform.Events->OnEndSession();
    };
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(platform.PumpRounds, 5);
    EXPECT_FALSE(platform.Logged("show 311,136 1"));
    EXPECT_TRUE(reports.empty());
    EXPECT_EQ(platform.Log.back(), "destroy");
}

TEST_F(ShellRun, EndOfSessionInTheLoopTakesNoFurtherMessage) {
    platform.Messages.push_back([&] { platform.Events->OnEndSession(); });
    platform.Messages.push_back([] { ADD_FAILURE() << "a message was taken after the end of the session"; });
    EXPECT_EQ(Run(), 0);
    EXPECT_FALSE(platform.Logged("post quit"));
    EXPECT_EQ(platform.Log.back(), "destroy");
}

TEST_F(ShellRun, ExitNowRunsTheExitSequenceInsideTheCall) {
    platform.Messages.push_back([&] {
        platform.Events->OnEndSession();
        platform.Events->OnExitNow();
        EXPECT_EQ(platform.Log.back(), "destroy");
        EXPECT_EQ(Form1, nullptr);
        EXPECT_TRUE(SourceTag.empty());
    });
    platform.Messages.push_back([] { ADD_FAILURE() << "a message was taken after the exit sequence"; });
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(std::count(platform.Log.begin(), platform.Log.end(), "destroy"), 1);
}

TEST_F(ShellRun, ExitReleasesTheWindowTheBrowserAndTheSharedValues) {
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Form1, nullptr);
    EXPECT_EQ(WebBrowser, nullptr);
    EXPECT_EQ(Application, nullptr);
    EXPECT_TRUE(SourceTag.empty());
    EXPECT_TRUE(SoftId.empty());
    EXPECT_LT(IndexOf("unbind"), IndexOf("destroy"));
    EXPECT_EQ(platform.Events, nullptr);
}

TEST_F(ShellRun, TagAndTitleComeFromTheExecutableFileName) {
    platform.ExePath = "Setup_ABC.beta.exe";
    platform.FailHide = true;
    platform.DuringPump = [&](int round) {
        if (round == 1) {
            EXPECT_EQ(SourceTag, "ABC.beta");
            platform.Events->OnCloseRequest();
        }
    };
    Run();
    EXPECT_TRUE(platform.Logged("navigate http://app.example/quorvl/index1.html?source=ABC.beta"));
    EXPECT_EQ(platform.ErrorBoxes, std::vector<std::string>{"Setup_abc|hide failed."});
}

}  // namespace
}  // namespace quorvel
