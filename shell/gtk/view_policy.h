// What one view does with the navigations WebKit asks about: the navigation
// guard first, for every one of them; then addresses WebKit does not load go
// to the desktop (see uri_handoff.h), and only when a click or a key asked for
// them; new windows open as second windows or, for a link out of the start
// page's site, in the default browser; a window the page could not fill is not
// opened at all. The context menu's new-window and download items take the
// same road.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <string>

#include "shell/gtk/downloads.h"
#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/second_window.h"
#include "shell/gtk/uri_handoff.h"
#include "shell/gtk/zoom_level.h"

namespace quorvel::gtk {

// What the platform gives every window's chrome.
struct TBrowserServices {
    // The guard: true when the address may be fetched.
    std::function<bool(const std::string& url)> Allow;
    std::string StartPageHost;
    TUriHandoff* Handoff = nullptr;
    TSecondWindows* Windows = nullptr;
    TUserGestures* Gestures = nullptr;
    const TZoomLevel* Zoom = nullptr;
    std::function<GtkWindow*()> MainWindow;
    // True once the program is ending: nothing is started again.
    std::function<bool()> Ending;
};

class TViewPolicy {
public:
    TViewPolicy(WebKitWebView* view, const TBrowserServices& services);
    ~TViewPolicy();
    TViewPolicy(const TViewPolicy&) = delete;
    TViewPolicy& operator=(const TViewPolicy&) = delete;

private:
    static gboolean OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer self);
    static GtkWidget* OnCreate(WebKitWebView* view, WebKitNavigationAction* action, gpointer self);
    static gboolean OnContextMenu(WebKitWebView* view, WebKitContextMenu* menu, GdkEvent* event,
                                  WebKitHitTestResult* hit, gpointer self);
    static void OnOpenItem(GSimpleAction* action, GVariant* uri, gpointer self);
    static void OnDownloadItem(GSimpleAction* action, GVariant* uri, gpointer self);
    // True when the address is not WebKit's to load; it went to the desktop
    // if byUser. linkToNewWindow: see HandoffFor.
    bool HandedOff(const std::string& uri, bool linkToNewWindow, bool byUser);
    // What this view's page could open in a window of its own.
    bool MayOpen(const std::string& uri) const;
    GtkWindow* Toplevel() const;

    WebKitWebView* FView;
    const TBrowserServices& FServices;
    TGObjectPtr<GSimpleAction> FOpenItem;
    TGObjectPtr<GSimpleAction> FDownloadItem;
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
