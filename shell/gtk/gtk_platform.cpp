#include "shell/gtk/gtk_platform.h"

#include <cmath>
#include <stdexcept>

#include "report/install_marker.h"
#include "shell/gtk/print_dialog.h"
#include "shell/gtk/sandbox_probe.h"
#include "shell/source_tag.h"

namespace quorvel::gtk {
namespace {

constexpr const char* kIconResource = "/org/quorvel/shell/quorvel.png";
// The browser's cookies and site data live in the user's data folder, as the
// system browser keeps them for the Windows program.
constexpr const char* kBrowserDataFolder = "quorvel-browser";
// Inside the browser's folder: the data folder's top level is the tags' markers.
constexpr const char* kZoomFile = "zoom-level";

GdkMonitor* PrimaryMonitor() {
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = gdk_display_get_primary_monitor(display);
    return monitor != nullptr ? monitor : gdk_display_get_monitor(display, 0);
}

// What every second window gets, as the main window has it: the guard's
// policy and the browser's keys.
class TSecondWindowChrome final : public IWindowAttachment {
public:
    TSecondWindowChrome(GtkWindow* window, WebKitWebView* view, GtkOverlay* overlay,
                        const TBrowserServices& services, const TZoomLevel& zoom)
        : FPolicy(view, services), FKeys(window, view, overlay, zoom) {}

private:
    TViewPolicy FPolicy;
    TBrowserKeys FKeys;
};

}  // namespace

TGtkPlatform::TGtkPlatform(TSignalWatch& signals, std::string startPageHost) : FSignals(signals) {
    TSandboxProbe::Instance().Start();
    FServices.Allow = [this](const std::string& url) { return AllowNavigation(url); };
    FServices.StartPageHost = std::move(startPageHost);
    FSignals.SetTarget([this] { EndSession(); });
    if (FSignals.TakePending()) FSessionEnded = true;
}

TGtkPlatform::~TGtkPlatform() {
    FSignals.SetTarget(nullptr);
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
    FDeleteEvent = TSignalConnection(window, g_signal_connect(window, "delete-event", G_CALLBACK(OnDeleteEvent), this));
    FActiveChanged =
        TSignalConnection(window, g_signal_connect(window, "notify::is-active", G_CALLBACK(OnIsActive), this));
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
    FKeys.reset();
    FMainPolicy.reset();
    FHandoff.reset();
    FServices.Handoff = nullptr;
    FServices.Windows = nullptr;
}

void TGtkPlatform::DestroyMainWindow() {
    DestroyBrowserInterface();
    FActiveChanged.Disconnect();
    FDeleteEvent.Disconnect();
    FBeforeNavigate = nullptr;
    FView = nullptr;
    FFixed = nullptr;
    FOverlay = nullptr;
    FWindow.reset();
    FContext.reset();
}

void TGtkPlatform::CreateBrowser() {
    if (FFixed == nullptr) throw std::logic_error("The browser needs the main window");
    const std::string data = GetLocalAppDataPath() + "/" + kBrowserDataFolder;
    const std::string cache = std::string(g_get_user_cache_dir()) + "/" + kBrowserDataFolder;
    TGObjectPtr<WebKitWebsiteDataManager> manager{webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr)};
    webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(manager.get()),
                                                 (data + "/cookies.sqlite").c_str(),
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    FContext.reset(webkit_web_context_new_with_website_data_manager(manager.get()));
    if (TSandboxProbe::Instance().CanRun()) {
        // Unless told where GStreamer's registry is, WebKit lets the web
        // process write to the user's whole cache folder for it.
        const std::string media = cache + "/gstreamer-1.0";
        g_mkdir_with_parents(media.c_str(), 0700);
        g_setenv("GST_REGISTRY", (media + "/registry.bin").c_str(), FALSE);
        webkit_web_context_set_sandbox_enabled(FContext.get(), TRUE);
    }
    FView = webkit_web_view_new_with_context(FContext.get());
    // Measured: without GPU compositing the shell and its web processes take
    // about a quarter less memory and start sooner; a mail page needs neither
    // WebGL nor accelerated layers.
    WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(FView));
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    // As the Windows control does: every window.open reaches the guard,
    // instead of WebKit dropping the ones made without a click.
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    gtk_fixed_put(GTK_FIXED(FFixed), FView, 0, 0);
    FZoom = std::make_unique<TZoomLevel>(data + "/" + kZoomFile);
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
            return std::make_unique<TSecondWindowChrome>(window, view, overlay, FServices, *FZoom);
        });
    FServices.Handoff = FHandoff.get();
    FServices.Windows = FSecondWindows.get();
    FDownloads = std::make_unique<TDownloads>(
        FContext.get(), FServices.Allow, [this] { return Window(); },
        [this](WebKitWebView* view) { FSecondWindows->CloseIfEmpty(view); });
    FMainPolicy = std::make_unique<TViewPolicy>(WEBKIT_WEB_VIEW(FView), FServices);
    FKeys = std::make_unique<TBrowserKeys>(Window(), WEBKIT_WEB_VIEW(FView), GTK_OVERLAY(FOverlay), *FZoom);
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
    FQuitPosted = true;
    g_main_context_wakeup(nullptr);
}

void TGtkPlatform::TakeQuit() {
    if (!FQuitPosted) return;
    FQuitPosted = false;
    if (FEvents != nullptr) FEvents->OnQuitMessage();
}

void TGtkPlatform::SleepMilliseconds(int milliseconds) { g_usleep(static_cast<gulong>(milliseconds) * 1000); }

void TGtkPlatform::ShowErrorBox(const std::string& title, const std::string& text) {
    if (FSessionEnded) return;
    GtkWindow* parent = FWindow && gtk_widget_get_visible(FWindow.get()) ? Window() : nullptr;
    TToplevelPtr dialog{gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_OK, "%s",
                                               text.c_str())};
    gtk_window_set_title(GTK_WINDOW(dialog.get()), title.c_str());
    gtk_window_set_position(GTK_WINDOW(dialog.get()), GTK_WIN_POS_CENTER);
    // GTK 3 message dialogs show no icon of their own: the error icon goes
    // in front of the text.
    GtkWidget* row = gtk_widget_get_parent(gtk_message_dialog_get_message_area(GTK_MESSAGE_DIALOG(dialog.get())));
    if (GTK_IS_BOX(row)) {
        GtkWidget* icon = gtk_image_new_from_icon_name("dialog-error", GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(icon, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(row), icon, 0);
        gtk_widget_show(icon);
    }
    GtkWidget* outer = FErrorDialog;
    FErrorDialog = dialog.get();
    gtk_dialog_run(GTK_DIALOG(dialog.get()));
    FErrorDialog = outer;
}

void TGtkPlatform::EndSession() {
    FSessionEnded = true;
    if (FEvents != nullptr) FEvents->OnEndSession();
    // A modal error box or print dialog must not hold the end of the session.
    if (FErrorDialog != nullptr) gtk_dialog_response(GTK_DIALOG(FErrorDialog), GTK_RESPONSE_NONE);
    CancelPrintDialogs();
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
