// What one view's pages may ask of the desktop. Notifications: the start
// page's site may show them, granted once for the whole session when WebKit
// starts (see web_context.cpp); WebKit sends them to the desktop's
// notification server under the program's name, and a click on one brings
// the main window up and reaches the page. Every other request, of any kind
// and from any origin, is refused.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

class TPagePermissions {
public:
    TPagePermissions(WebKitWebView* view, std::function<GtkWindow*()> mainWindow);
    ~TPagePermissions();
    TPagePermissions(const TPagePermissions&) = delete;
    TPagePermissions& operator=(const TPagePermissions&) = delete;

private:
    static gboolean OnPermissionRequest(WebKitWebView* view, WebKitPermissionRequest* request, gpointer self);
    static gboolean OnShowNotification(WebKitWebView* view, WebKitNotification* notification, gpointer self);
    static void OnNotificationClicked(GtkWindow* window);

    std::function<GtkWindow*()> FMainWindow;
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
