// The Windows desktop platform: Win32 windows, the message loop and the
// WebBrowser control site behind the shell's platform interface.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <memory>
#include <optional>
#include <string>

#include "shell/platform.h"
#include "shell/windows/ole_control_site.h"
#include "shell/windows/win32_handles.h"

namespace quorvel::win {

inline constexpr wchar_t kMainWindowClass[] = L"TForm1";
inline constexpr wchar_t kApplicationWindowClass[] = L"TApplication";
inline constexpr DWORD kMainWindowStyle = WS_POPUP | WS_CLIPSIBLINGS | WS_CLIPCHILDREN;
inline constexpr DWORD kMainWindowExStyle = WS_EX_CONTROLPARENT | WS_EX_APPWINDOW;

class TWin32Platform final : public IPlatform {
public:
    // The application object's platform part, in the start-up order: OLE,
    // the hidden application window, COM, then the hidden window gives the
    // taskbar entry to the main window.
    explicit TWin32Platform(HINSTANCE instance);
    ~TWin32Platform() override;
    TWin32Platform(const TWin32Platform&) = delete;
    TWin32Platform& operator=(const TWin32Platform&) = delete;

    void SetEvents(IShellEvents* events) override { FEvents = events; }
    std::string ExecutablePath() override;
    std::optional<int> StartupShowValue() override;
    int PixelsPerInch() override;
    int MeasureTextHeight(int fontHeight) override;
    TRect PrimaryWorkArea() override;
    TPoint VirtualDesktopOrigin() override;

    void CreateMainWindow(int clientWidth, int clientHeight) override;
    void HideMainWindow() override;
    void ShowMainWindow(TPoint position, TShowState state) override;
    void DestroyMainWindow() override;

    void CreateBrowser() override;
    void SetBrowserBounds(int left, int top, int width, int height) override;
    void BindBeforeNavigate(TBeforeNavigateHandler handler) override;
    void Navigate(const std::string& url) override;

    void HandleMessage() override;
    void ProcessPendingMessages() override;
    void PostQuit() override { ::PostQuitMessage(0); }
    void SleepMilliseconds(int milliseconds) override { ::Sleep(static_cast<DWORD>(milliseconds)); }
    void ShowErrorBox(const std::string& title, const std::string& text) override;

    HWND MainWindow() const { return FMainWindow.Get(); }
    HWND ApplicationWindow() const { return FApplicationWindow.Get(); }
    TOleControlSite* Site() const { return FSite.get(); }

    // One message of the loop (mouse messages first); false when none is waiting.
    bool ProcessMessage();

private:
    // The keyboard routing: true when the browser consumed the keystroke.
    bool OfferKey(const MSG& message);
    // A confirmed log-off: the exit sequence, then the end of the process.
    [[noreturn]] void EndSession();
    LRESULT MainWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT ApplicationWindowMessage(UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static LRESULT CALLBACK ApplicationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE FInstance;
    IShellEvents* FEvents = nullptr;
    std::optional<TOleInitialization> FOle;  // first of all, as the start-up order has it
    TUniqueWindow FApplicationWindow;
    std::optional<TComInitialization> FCom;  // after the hidden window, as the start-up order has it
    TUniqueWindow FMainWindow;
    std::unique_ptr<TOleControlSite> FSite;
    TBeforeNavigateHandler FBeforeNavigate;
    bool FSessionEnded = false;
};

}  // namespace quorvel::win
