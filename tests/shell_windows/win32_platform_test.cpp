// The Win32 side of the main window: class, styles, taskbar entry, icon,
// activation inside the first show, and the close and log-off messages.
#include "shell/windows/win32_platform.h"

#include <gtest/gtest.h>

#include <string>

#include "shell/application.h"
#include "shell/source_tag.h"

namespace quorvel::win {
namespace {

struct TRecordedEvents : IShellEvents {
    int Activations = 0, CloseRequests = 0, EndSessions = 0, Quits = 0;
    void OnActivate() override { ++Activations; }
    void OnCloseRequest() override { ++CloseRequests; }
    void OnEndSession() override { ++EndSessions; }
    void OnExitNow() override {}
    void OnQuitMessage() override { ++Quits; }
};

class Win32Platform : public ::testing::Test {
protected:
    TWin32Platform platform{::GetModuleHandleW(nullptr)};
    TRecordedEvents events;
    void SetUp() override {
        platform.SetEvents(&events);
        platform.CreateMainWindow(978, 727);
        ASSERT_NE(platform.MainWindow(), nullptr);
    }
    void TearDown() override {
        platform.DestroyMainWindow();
        platform.ProcessPendingMessages();
        platform.SetEvents(nullptr);
    }
};

TEST_F(Win32Platform, MainWindowIsAnUnownedHiddenPopupOfClassTForm1) {
    HWND w = platform.MainWindow();
    wchar_t name[32] = {};
    ::GetClassNameW(w, name, 32);
    EXPECT_EQ(std::wstring(name), L"TForm1");
    WNDCLASSW c{};
    ASSERT_TRUE(::GetClassInfoW(::GetModuleHandleW(nullptr), L"TForm1", &c));
    EXPECT_EQ(c.style, static_cast<UINT>(CS_DBLCLKS));
    EXPECT_EQ(c.hbrBackground, nullptr);
    EXPECT_EQ(c.hCursor, ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW)));

    const auto style = static_cast<DWORD>(::GetWindowLongW(w, GWL_STYLE));
    EXPECT_EQ(style & (WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN), WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN);
    EXPECT_EQ(style & (WS_CAPTION | WS_THICKFRAME | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_VISIBLE), 0u);
    const auto exStyle = static_cast<DWORD>(::GetWindowLongW(w, GWL_EXSTYLE));
    EXPECT_EQ(exStyle & (WS_EX_CONTROLPARENT | WS_EX_APPWINDOW), static_cast<DWORD>(WS_EX_CONTROLPARENT | WS_EX_APPWINDOW));
    EXPECT_EQ(exStyle & (WS_EX_TOOLWINDOW | WS_EX_WINDOWEDGE | WS_EX_DLGMODALFRAME | WS_EX_LAYERED), 0u);
    EXPECT_EQ(::GetWindow(w, GW_OWNER), nullptr);
    EXPECT_EQ(::GetWindowTextLengthW(w), 0);
    RECT r{}, client{};
    ::GetWindowRect(w, &r);
    ::GetClientRect(w, &client);
    EXPECT_EQ(r.right - r.left, 978);
    EXPECT_EQ(client.bottom, 727);
    // The executable's main icon, as the large icon.
    EXPECT_NE(::SendMessageW(w, WM_GETICON, ICON_BIG, 0), 0);
}

TEST_F(Win32Platform, HiddenApplicationWindowHasNoTaskbarEntry) {
    HWND hidden = platform.ApplicationWindow();
    EXPECT_FALSE(::IsWindowVisible(hidden));
    EXPECT_EQ(::GetWindowTextLengthW(hidden), 0);
    EXPECT_NE(::GetWindowLongW(hidden, GWL_EXSTYLE) & WS_EX_TOOLWINDOW, 0);
    RECT r{};
    ::GetWindowRect(hidden, &r);
    EXPECT_EQ(r.right - r.left, 0);
    EXPECT_EQ(::GetWindowLongW(hidden, GWL_EXSTYLE) & WS_EX_NOACTIVATE, 0);
    platform.ShowMainWindow(TPoint{10, 20}, TShowState::Normal);
    EXPECT_NE(::GetWindowLongW(hidden, GWL_EXSTYLE) & WS_EX_NOACTIVATE, 0);
}

TEST_F(Win32Platform, NormalShowActivatesAndRaisesTheActivationInsideTheShow) {
    platform.ShowMainWindow(TPoint{10, 20}, TShowState::Normal);
    // Before any message is taken from the queue.
    EXPECT_EQ(events.Activations, 1);
    EXPECT_TRUE(::IsWindowVisible(platform.MainWindow()));
    RECT r{};
    ::GetWindowRect(platform.MainWindow(), &r);
    EXPECT_EQ(r.left, 10);
    EXPECT_EQ(r.top, 20);
    EXPECT_EQ(r.right - r.left, 978);
}

TEST_F(Win32Platform, MinimisedStartIsNotActivated) {
    platform.ShowMainWindow(TPoint{0, 0}, TShowState::Minimized);
    EXPECT_TRUE(::IsIconic(platform.MainWindow()));
    EXPECT_EQ(events.Activations, 0);
}

TEST_F(Win32Platform, CloseMessagesOfBothWindowsAskForTheCloseAndDestroyNothing) {
    ::SendMessageW(platform.MainWindow(), WM_CLOSE, 0, 0);
    ::SendMessageW(platform.ApplicationWindow(), WM_CLOSE, 0, 0);
    ::SendMessageW(platform.MainWindow(), WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(events.CloseRequests, 3);
    EXPECT_TRUE(::IsWindow(platform.MainWindow()));
    EXPECT_TRUE(::IsWindow(platform.ApplicationWindow()));
}

// A confirmed end (WM_ENDSESSION with TRUE) ends the process inside the
// message: the Wine scenario "endsession" shows it from outside.
TEST_F(Win32Platform, LogOffIsConsentedAndAnEndNotConfirmedChangesNothing) {
    EXPECT_EQ(::SendMessageW(platform.MainWindow(), WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(::SendMessageW(platform.ApplicationWindow(), WM_QUERYENDSESSION, 0, 0), TRUE);
    ::SendMessageW(platform.MainWindow(), WM_ENDSESSION, FALSE, 0);
    ::SendMessageW(platform.ApplicationWindow(), WM_ENDSESSION, FALSE, 0);
    EXPECT_EQ(events.EndSessions, 0);
    EXPECT_TRUE(::IsWindow(platform.MainWindow()));
}

TEST_F(Win32Platform, BeforeNavigateWhileTheHostsSlotIsEmptyIsIgnoredEvenWithoutText) {
    TWebBrowser browser(platform);
    ASSERT_NE(platform.Site(), nullptr);
    // BeforeNavigate2's arguments as the control passes them, last first,
    // with a URL that has no text.
    VARIANT url{}, flags{}, frame{}, postData{}, headers{};
    url.vt = VT_UNKNOWN;
    VARIANT_BOOL cancel = VARIANT_FALSE;
    VARIANTARG args[7]{};
    args[0].vt = VT_BYREF | VT_BOOL;
    args[0].pboolVal = &cancel;
    VARIANT* byRef[5] = {&headers, &postData, &frame, &flags, &url};
    for (int i = 0; i < 5; ++i) {
        args[1 + i].vt = VT_BYREF | VT_VARIANT;
        args[1 + i].pvarVal = byRef[i];
    }
    args[6].vt = VT_DISPATCH;
    DISPPARAMS params{args, nullptr, 7, 0};
    platform.Site()->DeliverEvent(250, params);
    EXPECT_EQ(cancel, VARIANT_FALSE);
    // Once the slot is bound the event is taken: its URL has no text, so it is cancelled.
    browser.SetOnBeforeNavigate2([](TWebBrowser*, const void*, const std::string&, std::int16_t& c) { c = 0; });
    platform.Site()->DeliverEvent(250, params);
    EXPECT_EQ(cancel, VARIANT_TRUE);
}

TEST_F(Win32Platform, QuitRequestIsTakenAsTheQuitMessage) {
    platform.PostQuit();
    platform.ProcessPendingMessages();
    EXPECT_EQ(events.Quits, 1);
    EXPECT_FALSE(platform.ProcessMessage());
}

TEST_F(Win32Platform, MeasuresTahomaAndReportsTheModulePath) {
    // The test display runs at the design resolution, where Tahoma at 11
    // pixels measures the design height of "0".
    ASSERT_EQ(platform.PixelsPerInch(), 96);
    EXPECT_EQ(platform.MeasureTextHeight(-11), 13);
    const std::string path = platform.ExecutablePath();
    EXPECT_EQ(ModuleFileName(path), "shell_windows_tests.exe");
    EXPECT_NE(path.find('\\'), std::string::npos);
}

}  // namespace
}  // namespace quorvel::win
