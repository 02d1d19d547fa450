#include "shell/gtk/notifications.h"

#include <atomic>

#ifdef GDK_WINDOWING_X11
#include <gdk/gdkx.h>
#endif

namespace quorvel::gtk {
namespace {

// Set when the program ends; read on GDBus's worker thread.
std::atomic<bool> gProgramEnding{false};

// WebKit withdraws a page's notifications from the desktop when it closes
// the page, and so at the end of the program every one the user has not
// read yet: from the end on, the session bus does not carry those calls.
GDBusMessage* KeepOnScreen(GDBusConnection*, GDBusMessage* message, gboolean incoming, gpointer) {
    if (!incoming && gProgramEnding.load() &&
        g_dbus_message_get_message_type(message) == G_DBUS_MESSAGE_TYPE_METHOD_CALL &&
        g_strcmp0(g_dbus_message_get_interface(message), "org.freedesktop.Notifications") == 0 &&
        g_strcmp0(g_dbus_message_get_member(message), "CloseNotification") == 0) {
        g_object_unref(message);
        return nullptr;
    }
    return message;
}

void WatchWithdrawals() {
    // GIO's session connection, which WebKit's notification service shares.
    // Its reference is held for the life of the process, never dropped at
    // exit, so that the service always gets this very connection, filter
    // and all.
    static GDBusConnection* const bus = [] {
        GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
        if (connection != nullptr) g_dbus_connection_add_filter(connection, KeepOnScreen, nullptr, nullptr);
        return connection;
    }();
    static_cast<void>(bus);
}

}  // namespace

TPagePermissions::TPagePermissions(WebKitWebView* view, std::function<GtkWindow*()> mainWindow,
                                   std::function<bool()> ending)
    : FMainWindow(std::move(mainWindow)), FEnding(std::move(ending)) {
    FSignals.Connect(view, "permission-request", OnPermissionRequest, this);
    FSignals.Connect(view, "show-notification", OnShowNotification, this);
}

TPagePermissions::~TPagePermissions() {
    // Before WebKit closes the view's page.
    if (FEnding && FEnding()) gProgramEnding = true;
}

gboolean TPagePermissions::OnPermissionRequest(WebKitWebView*, WebKitPermissionRequest* request, gpointer) {
    // Camera, microphone, location, pointer lock, clipboard, storage access,
    // notifications of another origin, and whatever WebKit adds.
    webkit_permission_request_deny(request);
    return TRUE;
}

gboolean TPagePermissions::OnShowNotification(WebKitWebView*, WebKitNotification* notification, gpointer self) {
    GtkWindow* window = static_cast<TPagePermissions*>(self)->FMainWindow();
    // Tied to the window, not to this view, which may be gone by the click.
    if (window != nullptr) {
        g_signal_connect_object(notification, "clicked", G_CALLBACK(OnNotificationClicked), window,
                                G_CONNECT_SWAPPED);
    }
    WatchWithdrawals();
    // WebKit sends it to the desktop.
    return FALSE;
}

void TPagePermissions::OnNotificationClicked(GtkWindow* window) {
    // The click was the user's, in the notification server: under X11 the
    // window asks for the focus as of now, since GTK would date the request
    // from the last input the shell itself saw, which X and the window
    // manager put behind the focus change that came since.
    guint32 now = GDK_CURRENT_TIME;
#ifdef GDK_WINDOWING_X11
    GdkWindow* surface = gtk_widget_get_window(GTK_WIDGET(window));
    if (surface != nullptr && GDK_IS_X11_WINDOW(surface)) now = gdk_x11_get_server_time(surface);
#endif
    gtk_window_present_with_time(window, now);
}

}  // namespace quorvel::gtk
