#include "shell/gtk/gtk_platform.h"

#include <cmath>
#include <stdexcept>

#include "report/install_marker.h"
#include "shell/gtk/notice.h"
#include "shell/gtk/sandbox_probe.h"
#include "shell/source_tag.h"

namespace quorvel::gtk {
namespace {

constexpr const char* kIconResource = "/org/quorvel/shell/quorvel.png";
// Inside the browser's folder: the data folder's top level is the tags' markers.
constexpr const char* kZoomFile = "zoom-level";

GdkMonitor* PrimaryMonitor() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    return monitor != nullptr ? monitor : gdk_display_get_monitor(display, 0);
}

}  // namespace

TGtkPlatform::TGtkPlatform(TSignalWatch& signals, std::string startPageHost) : FSignalWatch(signals) {
    TSandboxProbe::Instance().Start();
    FServices.Allow = [this](const std::string& url) { return AllowNavigation(url); };
    FServices.StartPageHost = std::move(startPageHost);
    FServices.Gestures = &FGestures;
    FServices.MainWindow = [this] { return FWindow ? Window() : nullptr; };
    FServices.Ending = [this] { return FEnding; };
    FSignalWatch.SetTarget([this] { EndSession(); });
    if (FSignalWatch.TakePending()) FSessionEnded = FEnding = true;
}

TGtkPlatform::~TGtkPlatform() {
    FSignalWatch.SetTarget(nullptr);
    DestroyMainWindow();
}

void TGtkPlatform::SetEvents(IShellEvents* events) {
    FEvents = events;
    if (FEvents != nullptr && FSessionEnded) FEvents->OnEndSession();
}

std::string TGtkPlatform::ExecutablePath() {
    const TGCharPtr path{g_file_read_link("/proc/self/exe", nullptr)};
    return path ? PosixBaseName(path.get()) : std::string();
}

std::optional<int> TGtkPlatform::StartupShowValue() { return std::nullopt; }

int TGtkPlatform::PixelsPerInch() {
    const double resolution = gdk_screen_get_resolution(gdk_screen_get_default());
    return resolution > 0 ? static_cast<int>(std::lround(resolution)) : 96;
}

int TGtkPlatform::MeasureTextHeight(int fontHeight) {
    // The design font is Tahoma, which Linux rarely has, and a fallback font
    // would change the window size at 96 dpi. Tahoma's own cell metrics
    // (ascent 2049, descent 423 per 2048 em units), rounded as the Windows
    // text metrics are, give 13 at 11 pixels and 17 at 14.
    const double em = std::abs(fontHeight);
    return static_cast<int>(std::lround(em * 2049 / 2048) + std::lround(em * 423 / 2048));
}

TRect TGtkPlatform::PrimaryWorkArea() {
    GdkMonitor* monitor = PrimaryMonitor();
    if (monitor == nullptr) return TRect{0, 0, 0, 0};
    GdkRectangle area{};
    gdk_monitor_get_workarea(monitor, &area);
    return TRect{area.x, area.y, area.x + area.width, area.y + area.height};
}

TPoint TGtkPlatform::VirtualDesktopOrigin() {
    GdkDisplay* display = gdk_display_get_default();
    const int count = gdk_display_get_n_monitors(display);
    TPoint origin{0, 0};
    for (int i = 0; i < count; ++i) {
        GdkRectangle geometry{};
        gdk_monitor_get_geometry(gdk_display_get_monitor(display, i), &geometry);
        if (i == 0 || geometry.x < origin.X) origin.X = geometry.x;
        if (i == 0 || geometry.y < origin.Y) origin.Y = geometry.y;
    }
    return origin;
}

void TGtkPlatform::CreateMainWindow(int clientWidth, int clientHeight) {
    FWindow.reset(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    GtkWindow* window = Window();
    gtk_window_set_title(window, "");
    gtk_window_set_decorated(window, FALSE);
    gtk_window_set_resizable(window, FALSE);
    gtk_window_set_default_size(window, clientWidth, clientHeight);
    if (TGObjectPtr<GdkPixbuf> icon{gdk_pixbuf_new_from_resource(kIconResource, nullptr)}) {
        gtk_window_set_icon(window, icon.get());
        // Second windows and dialogs carry it too.
        gtk_window_set_default_icon(icon.get());
    }
    // The view keeps its own rectangle; the container only places it.
    FOverlay = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(window), FOverlay);
    FFixed = gtk_fixed_new();
    gtk_widget_set_size_request(FFixed, clientWidth, clientHeight);
    gtk_container_add(GTK_CONTAINER(FOverlay), FFixed);
    FWindowSignals.Connect(window, "delete-event", OnDeleteEvent, this);
    FWindowSignals.Connect(window, "notify::is-active", OnIsActive, this);
}

void TGtkPlatform::HideMainWindow() {
    if (FWindow) gtk_widget_hide(FWindow.get());
}

void TGtkPlatform::ShowMainWindow(TPoint position, TShowState state) {
    if (!FWindow) throw std::logic_error("The main window does not exist");
    GtkWindow* window = Window();
    gtk_window_move(window, position.X, position.Y);
    if (state == TShowState::Maximized) gtk_window_maximize(window);
    if (state == TShowState::Minimized) {
        gtk_window_set_focus_on_map(window, FALSE);
        gtk_window_iconify(window);
    }
    gtk_widget_show_all(FWindow.get());
    // Without a window manager nobody else gives the new window the focus.
    if (state != TShowState::Minimized) gtk_window_present(window);
}

void TGtkPlatform::DestroyBrowserInterface() {
    // Dialogs first, then the windows they may sit on.
    FDownloads.reset();
    FSecondWindows.reset();
    FMainChrome.reset();
    FHandoff.reset();
    FServices.Handoff = nullptr;
    FServices.Windows = nullptr;
}

void TGtkPlatform::DestroyMainWindow() {
    FEnding = true;
    DestroyBrowserInterface();
    FWindowSignals.DisconnectAll();
    FBeforeNavigate = nullptr;
    FView = nullptr;
    FFixed = nullptr;
    FOverlay = nullptr;
    FWindow.reset();
    FZoom.reset();
    FWebContext.reset();
    FColorScheme.reset();
}

void TGtkPlatform::CreateBrowser() {
    if (FFixed == nullptr) throw std::logic_error("The browser needs the main window");
    // Before the first page, which asks for the colour scheme at once.
    FColorScheme = std::make_unique<TColorScheme>();
    FWebContext = std::make_unique<TWebContext>(FServices.StartPageHost);
    FView = FWebContext->NewView();
    gtk_fixed_put(GTK_FIXED(FFixed), FView, 0, 0);
    FZoom = std::make_unique<TZoomLevel>(BrowserDataFolder() + "/" + kZoomFile);
    CreateBrowserInterface();
}

void TGtkPlatform::CreateBrowserInterface() {
    FHandoff = std::make_unique<TUriHandoff>();
    int width = 0;
    int height = 0;
    gtk_window_get_default_size(Window(), &width, &height);
    FSecondWindows = std::make_unique<TSecondWindows>(
        width, height,
        [this](GtkWindow* window, WebKitWebView* view, GtkOverlay* overlay) -> std::unique_ptr<IWindowAttachment> {
            return std::make_unique<TWindowChrome>(window, view, overlay, FServices);
        });
    FServices.Handoff = FHandoff.get();
    FServices.Windows = FSecondWindows.get();
    FServices.Zoom = FZoom.get();
    FDownloads = std::make_unique<TDownloads>(
        FWebContext->Context(), FGestures, FServices.Allow, [this] { return Window(); },
        [this](WebKitWebView* view) { FSecondWindows->CloseIfEmpty(view); });
    FMainChrome = std::make_unique<TWindowChrome>(Window(), WEBKIT_WEB_VIEW(FView), GTK_OVERLAY(FOverlay), FServices);
}

void TGtkPlatform::SetBrowserBounds(int left, int top, int width, int height) {
    if (FView == nullptr) throw std::logic_error("The browser does not exist");
    gtk_fixed_move(GTK_FIXED(FFixed), FView, left, top);
    gtk_widget_set_size_request(FView, width, height);
}

void TGtkPlatform::BindBeforeNavigate(TBeforeNavigateHandler handler) { FBeforeNavigate = std::move(handler); }

void TGtkPlatform::Navigate(const std::string& url) {
    if (FView == nullptr) throw std::logic_error("The browser does not exist");
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(FView), url.c_str());
}

void TGtkPlatform::HandleMessage() {
    if (!FQuitPosted) g_main_context_iteration(nullptr, TRUE);
    TakeQuit();
}

void TGtkPlatform::ProcessPendingMessages() {
    while (!FQuitPosted && g_main_context_pending(nullptr)) g_main_context_iteration(nullptr, FALSE);
    TakeQuit();
}

void TGtkPlatform::PostQuit() {
    FQuitPosted = FEnding = true;
    // As a message box's own loop ends on the quit message, and leaves it
    // for the main loop.
    if (FErrorDialog != nullptr) gtk_dialog_response(GTK_DIALOG(FErrorDialog), GTK_RESPONSE_NONE);
    g_main_context_wakeup(nullptr);
}

void TGtkPlatform::TakeQuit() {
    if (!FQuitPosted) return;
    FQuitPosted = false;
    if (FEvents != nullptr) FEvents->OnQuitMessage();
}

void TGtkPlatform::SleepMilliseconds(int milliseconds) { g_usleep(static_cast<gulong>(milliseconds) * 1000); }

void TGtkPlatform::ShowErrorBox(const std::string& title, const std::string& text) {
    if (FSessionEnded || FQuitPosted) return;
    GtkWindow* parent = FWindow && gtk_widget_get_visible(FWindow.get()) ? Window() : nullptr;
    TToplevelPtr dialog = NewMessageDialog(parent, GTK_MESSAGE_ERROR, title, text, std::string());
    gtk_dialog_add_button(GTK_DIALOG(dialog.get()), "_OK", GTK_RESPONSE_OK);
    gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);
    GtkWidget* outer = FErrorDialog;
    FErrorDialog = dialog.get();
    gtk_dialog_run(GTK_DIALOG(dialog.get()));
    FErrorDialog = outer;
}

void TGtkPlatform::EndSession() {
    FSessionEnded = FEnding = true;
    if (FEvents != nullptr) FEvents->OnEndSession();
    // No modal dialog, the error box included, may hold the end of the session.
    CancelOpenDialogs();
}

gboolean TGtkPlatform::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    auto* platform = static_cast<TGtkPlatform*>(self);
    if (platform->FEvents != nullptr) platform->FEvents->OnCloseRequest();
    // The close rule decides; GTK never destroys the window by itself.
    return TRUE;
}

void TGtkPlatform::OnIsActive(GObject* window, GParamSpec*, gpointer self) {
    auto* platform = static_cast<TGtkPlatform*>(self);
    if (gtk_window_is_active(GTK_WINDOW(window)) && platform->FEvents != nullptr) platform->FEvents->OnActivate();
}

bool TGtkPlatform::AllowNavigation(const std::string& url) {
    std::int16_t cancel = 0;
    try {
        if (FBeforeNavigate) FBeforeNavigate(url, cancel);
    } catch (...) {
        // Nothing may unwind into WebKit; a navigation whose check failed does not go on.
        cancel = -1;
    }
    return cancel == 0;
}

}  // namespace quorvel::gtk
