// What one view does with the navigations WebKit asks about: the navigation
// guard first, for every one of them; then addresses WebKit cannot load go to
// the desktop, new windows open as second windows or, for a link out of the
// start page's site, in the default browser. The context menu's new-window and
// download items take the same road.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <string>

#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/second_window.h"
#include "shell/gtk/uri_handoff.h"

namespace quorvel::gtk {

struct TBrowserServices {
    // The guard: true when the address may be fetched.
    std::function<bool(const std::string& url)> Allow;
    std::string StartPageHost;
    TUriHandoff* Handoff = nullptr;
    TSecondWindows* Windows = nullptr;
};

class TViewPolicy final : public IWindowAttachment {
public:
    TViewPolicy(WebKitWebView* view, const TBrowserServices& services);
    ~TViewPolicy() override;
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
    // A link asking for a window of its own.
    void OpenLink(const std::string& uri);
    GtkWindow* Toplevel() const;

    WebKitWebView* FView;
    const TBrowserServices& FServices;
    TGObjectPtr<GSimpleAction> FOpenItem;
    TGObjectPtr<GSimpleAction> FDownloadItem;
    TSignalConnection FDecidePolicy;
    TSignalConnection FCreate;
    TSignalConnection FContextMenu;
    TSignalConnection FOpenActivate;
    TSignalConnection FDownloadActivate;
};

}  // namespace quorvel::gtk
