// What one view's pages may ask of the desktop. Notifications: the start
// page's site may show them, granted once for the whole session when WebKit
// starts (see web_context.cpp); WebKit sends them to the desktop's
// notification server under the program's name, and a click on one brings
// the main window up and reaches the page. Every other request, of any kind
// and from any origin, is refused. The end of the program leaves every
// notification on screen.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

class TPagePermissions {
public:
    // ending: true once the program ends, when notifications stay on screen.
    TPagePermissions(WebKitWebView* view, std::function<GtkWindow*()> mainWindow, std::function<bool()> ending);
    ~TPagePermissions();
    TPagePermissions(const TPagePermissions&) = delete;
    TPagePermissions& operator=(const TPagePermissions&) = delete;

private:
    static gboolean OnPermissionRequest(WebKitWebView* view, WebKitPermissionRequest* request, gpointer self);
    static gboolean OnShowNotification(WebKitWebView* view, WebKitNotification* notification, gpointer self);
    static void OnNotificationClicked(GtkWindow* window);

    std::function<GtkWindow*()> FMainWindow;
    std::function<bool()> FEnding;
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
