// The platform interface on GTK 3 and WebKitGTK: translation only.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <memory>
#include <string>

#include "shell/gtk/color_scheme.h"
#include "shell/gtk/downloads.h"
#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/second_window.h"
#include "shell/gtk/signal_watch.h"
#include "shell/gtk/uri_handoff.h"
#include "shell/gtk/view_policy.h"
#include "shell/gtk/web_context.h"
#include "shell/gtk/window_chrome.h"
#include "shell/platform.h"

namespace quorvel::gtk {

class TGtkPlatform final : public IPlatform {
public:
    // gtk_init must have succeeded. startPageHost: the site whose links open
    // in the shell's own windows.
    TGtkPlatform(TSignalWatch& signals, std::string startPageHost);
    ~TGtkPlatform() override;
    TGtkPlatform(const TGtkPlatform&) = delete;
    TGtkPlatform& operator=(const TGtkPlatform&) = delete;

    void SetEvents(IShellEvents* events) override;
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
    void PostQuit() override;
    void SleepMilliseconds(int milliseconds) override;

    void ShowErrorBox(const std::string& title, const std::string& text) override;

private:
    static gboolean OnDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
    static void OnIsActive(GObject* window, GParamSpec* property, gpointer self);
    // New windows, hand-offs and downloads, for the main view and every
    // second window.
    void CreateBrowserInterface();
    void DestroyBrowserInterface();
    bool AllowNavigation(const std::string& url);
    void EndSession();
    void TakeQuit();
    GtkWindow* Window() const { return GTK_WINDOW(FWindow.get()); }

    TSignalWatch& FSignalWatch;
    IShellEvents* FEvents = nullptr;
    bool FSessionEnded = false;
    bool FQuitPosted = false;
    bool FEnding = false;  // a quit or the end of the session is under way
    GtkWidget* FErrorDialog = nullptr;  // the one running, owned by ShowErrorBox

    std::unique_ptr<TColorScheme> FColorScheme;
    std::unique_ptr<TWebContext> FWebContext;
    TToplevelPtr FWindow;
    GtkWidget* FOverlay = nullptr;  // owned by the window; what lies over the page goes in it
    GtkWidget* FFixed = nullptr;    // owned by the overlay
    GtkWidget* FView = nullptr;     // owned by the fixed container
    std::unique_ptr<TZoomLevel> FZoom;
    TBeforeNavigateHandler FBeforeNavigate;

    TUserGestures FGestures;
    TBrowserServices FServices;
    std::unique_ptr<TUriHandoff> FHandoff;
    std::unique_ptr<TSecondWindows> FSecondWindows;
    std::unique_ptr<TDownloads> FDownloads;
    std::unique_ptr<TWindowChrome> FMainChrome;
    TSignalGroup FWindowSignals;
};

}  // namespace quorvel::gtk
