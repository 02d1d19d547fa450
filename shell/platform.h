// What the start-up order and the main window need from a desktop platform.
// Each platform folder (gtk/, windows/) implements this and holds no rule of
// its own; the rules live in application.cpp.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "shell/window_rules.h"

namespace quorvel {

// The guard's slot: the target URL as text and the 16-bit veto (-1 cancels).
using TBeforeNavigateHandler = std::function<void(const std::string& url, std::int16_t& cancel)>;

// Notifications the platform raises on the user-interface thread.
class IShellEvents {
public:
    virtual ~IShellEvents() = default;
    // The main window took the keyboard focus (raised on every focus-in).
    virtual void OnActivate() = 0;
    // The platform asks the main window to close (close button, window
    // manager, Alt+F4).
    virtual void OnCloseRequest() = 0;
    // The session ends for good (log-off; SIGTERM, SIGHUP, SIGINT on Linux).
    virtual void OnEndSession() = 0;
    // After OnEndSession, where the end must not wait for the loop (Windows
    // may end the process as soon as its log-off message returns): the
    // program's part of the exit sequence runs inside this call, and the
    // platform ends the process after it.
    virtual void OnExitNow() = 0;
    // The quit request posted by PostQuit was taken from the queue.
    virtual void OnQuitMessage() = 0;
};

class IPlatform {
public:
    virtual ~IPlatform() = default;

    // Set once, before anything else is asked of the platform.
    virtual void SetEvents(IShellEvents* events) = 0;

    // The running executable's path, cut so that the tag rule's Windows
    // separators find the file name (Linux reports the file name only).
    virtual std::string ExecutablePath() = 0;
    // The start-up show request, when the platform's start-up data has one.
    virtual std::optional<int> StartupShowValue() = 0;

    virtual int PixelsPerInch() = 0;
    // Height of the text "0" in the design font at this pixel height (negative:
    // character height).
    virtual int MeasureTextHeight(int fontHeight) = 0;
    virtual TRect PrimaryWorkArea() = 0;
    virtual TPoint VirtualDesktopOrigin() = 0;

    // The main window: created hidden, borderless, with this client size.
    virtual void CreateMainWindow(int clientWidth, int clientHeight) = 0;
    virtual void HideMainWindow() = 0;
    // Moves the window to position (final: never centred again), then shows it
    // with the show command of state and gives it the focus when the command
    // activates.
    virtual void ShowMainWindow(TPoint position, TShowState state) = 0;
    // Destroys the browser view and the window; afterwards no event arrives.
    virtual void DestroyMainWindow() = 0;

    // The embedded browser, attached to the main window. Errors are thrown.
    virtual void CreateBrowser() = 0;
    virtual void SetBrowserBounds(int left, int top, int width, int height) = 0;
    virtual void BindBeforeNavigate(TBeforeNavigateHandler handler) = 0;
    virtual void Navigate(const std::string& url) = 0;

    // One message, waiting for it when the queue is empty.
    virtual void HandleMessage() = 0;
    // Every pending message, without waiting.
    virtual void ProcessPendingMessages() = 0;
    virtual void PostQuit() = 0;
    virtual void SleepMilliseconds(int milliseconds) = 0;

    // A modal error box with the error icon.
    virtual void ShowErrorBox(const std::string& title, const std::string& text) = 0;
};

}  // namespace quorvel
