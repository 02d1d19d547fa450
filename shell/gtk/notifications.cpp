#include "shell/gtk/notifications.h"

namespace quorvel::gtk {

TPagePermissions::TPagePermissions(WebKitWebView* view, std::function<GtkWindow*()> mainWindow)
    : FMainWindow(std::move(mainWindow)) {
    FSignals.Connect(view, "permission-request", OnPermissionRequest, this);
    FSignals.Connect(view, "show-notification", OnShowNotification, this);
}

TPagePermissions::~TPagePermissions() = default;

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
    // WebKit sends it to the desktop.
    return FALSE;
}

void TPagePermissions::OnNotificationClicked(GtkWindow* window) { gtk_window_present(window); }

}  // namespace quorvel::gtk
