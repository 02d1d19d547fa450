#include "shell/gtk/second_window.h"

#include <algorithm>
#include <cstddef>

namespace quorvel::gtk {
namespace {

// A page that opens windows in a loop gets no more than these at a time.
constexpr std::size_t kMaxWindows = 16;

}  // namespace

class TSecondWindows::TSecondWindow {
public:
    TSecondWindow(TSecondWindows& owner, WebKitWebView* related);
    ~TSecondWindow();
    TSecondWindow(const TSecondWindow&) = delete;
    TSecondWindow& operator=(const TSecondWindow&) = delete;

    WebKitWebView* View() const { return WEBKIT_WEB_VIEW(FView); }
    void Show();
    void CloseLaterIfEmpty();

private:
    static void OnReadyToShow(WebKitWebView* view, gpointer self);
    static void OnClose(WebKitWebView* view, gpointer self);
    static void OnTitle(GObject* view, GParamSpec* property, gpointer self);
    static gboolean OnDeleteEvent(GtkWidget* widget, GdkEvent* event, gpointer self);
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean OnCloseNow(gpointer self);

    TSecondWindows& FOwner;
    TToplevelPtr FWindow;
    GtkWidget* FView = nullptr;  // owned by the window, through the overlay
    std::unique_ptr<IWindowAttachment> FAttachment;
    bool FCommitted = false;
    guint FCloseSource = 0;
    TSignalGroup FSignals;  // last: dropped first
};

TSecondWindows::TSecondWindow::TSecondWindow(TSecondWindows& owner, WebKitWebView* related)
    : FOwner(owner), FWindow(gtk_window_new(GTK_WINDOW_TOPLEVEL)) {
    GtkWindow* window = GTK_WINDOW(FWindow.get());
    gtk_window_set_default_size(window, owner.FDefaultWidth, owner.FDefaultHeight);
    GtkWidget* overlay = gtk_overlay_new();
    gtk_container_add(GTK_CONTAINER(window), overlay);
    // Related: the same web process and session, settings included.
    FView = webkit_web_view_new_with_related_view(related);
    gtk_container_add(GTK_CONTAINER(overlay), FView);
    // Not show_all: what is attached to the overlay shows itself.
    gtk_widget_show(overlay);
    gtk_widget_show(FView);
    FSignals.Connect(FView, "ready-to-show", OnReadyToShow, this);
    FSignals.Connect(FView, "close", OnClose, this);
    FSignals.Connect(FView, "notify::title", OnTitle, this);
    FSignals.Connect(window, "delete-event", OnDeleteEvent, this);
    FSignals.Connect(FView, "load-changed", OnLoadChanged, this);
    if (owner.FAttach) FAttachment = owner.FAttach(window, View(), GTK_OVERLAY(overlay));
}

TSecondWindows::TSecondWindow::~TSecondWindow() {
    FSignals.DisconnectAll();
    if (FCloseSource != 0) g_source_remove(FCloseSource);
    FAttachment.reset();
    FView = nullptr;
    FWindow.reset();
}

void TSecondWindows::TSecondWindow::Show() { gtk_window_present(GTK_WINDOW(FWindow.get())); }

void TSecondWindows::TSecondWindow::OnReadyToShow(WebKitWebView* view, gpointer self) {
    auto* second = static_cast<TSecondWindow*>(self);
    GdkRectangle geometry{};
    webkit_window_properties_get_geometry(webkit_web_view_get_window_properties(view), &geometry);
    // The size window.open asked for is the page's, which fills the window.
    if (geometry.width > 0 && geometry.height > 0) {
        gtk_window_set_default_size(GTK_WINDOW(second->FWindow.get()), geometry.width, geometry.height);
    }
    second->Show();
}

void TSecondWindows::TSecondWindow::OnClose(WebKitWebView*, gpointer self) {
    auto* second = static_cast<TSecondWindow*>(self);
    second->FOwner.Close(second);
}

void TSecondWindows::TSecondWindow::OnTitle(GObject* view, GParamSpec*, gpointer self) {
    auto* second = static_cast<TSecondWindow*>(self);
    const gchar* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(view));
    if (title == nullptr || *title == '\0') title = webkit_web_view_get_uri(WEBKIT_WEB_VIEW(view));
    gtk_window_set_title(GTK_WINDOW(second->FWindow.get()), title != nullptr ? title : "");
}

gboolean TSecondWindows::TSecondWindow::OnDeleteEvent(GtkWidget*, GdkEvent*, gpointer self) {
    // Closed at once, whatever the page's script does: a hung page must not
    // keep its window.
    auto* second = static_cast<TSecondWindow*>(self);
    second->FOwner.Close(second);
    return TRUE;
}

void TSecondWindows::TSecondWindow::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event == WEBKIT_LOAD_COMMITTED) static_cast<TSecondWindow*>(self)->FCommitted = true;
}

void TSecondWindows::TSecondWindow::CloseLaterIfEmpty() {
    // Not inside WebKit's signal.
    if (!FCommitted && FCloseSource == 0) FCloseSource = g_idle_add(OnCloseNow, this);
}

gboolean TSecondWindows::TSecondWindow::OnCloseNow(gpointer self) {
    auto* second = static_cast<TSecondWindow*>(self);
    second->FCloseSource = 0;
    second->FOwner.Close(second);
    return G_SOURCE_REMOVE;
}

TSecondWindows::TSecondWindows(int defaultWidth, int defaultHeight, TAttachWindow attach)
    : FDefaultWidth(defaultWidth), FDefaultHeight(defaultHeight), FAttach(std::move(attach)) {}

TSecondWindows::~TSecondWindows() { CloseAll(); }

WebKitWebView* TSecondWindows::Create(WebKitWebView* related) {
    if (FWindows.size() >= kMaxWindows) return nullptr;
    FWindows.push_back(std::make_unique<TSecondWindow>(*this, related));
    return FWindows.back()->View();
}

void TSecondWindows::Open(WebKitWebView* related, const std::string& uri) {
    if (FWindows.size() >= kMaxWindows) return;
    FWindows.push_back(std::make_unique<TSecondWindow>(*this, related));
    webkit_web_view_load_uri(FWindows.back()->View(), uri.c_str());
    FWindows.back()->Show();
}

void TSecondWindows::CloseIfEmpty(WebKitWebView* view) {
    for (const auto& window : FWindows) {
        if (window->View() == view) window->CloseLaterIfEmpty();
    }
}

void TSecondWindows::CloseAll() {
    // Taken out first: a window going may not find itself in the list.
    std::vector<std::unique_ptr<TSecondWindow>> windows;
    windows.swap(FWindows);
    windows.clear();
}

void TSecondWindows::Close(TSecondWindow* window) {
    auto found = std::find_if(FWindows.begin(), FWindows.end(), [window](const auto& w) { return w.get() == window; });
    if (found == FWindows.end()) return;
    std::unique_ptr<TSecondWindow> gone = std::move(*found);
    FWindows.erase(found);
}

}  // namespace quorvel::gtk
