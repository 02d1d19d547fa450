// The browser's keyboard commands for one window: reload (F5, Ctrl+R), reload
// past the cache (Shift+F5, Ctrl+Shift+R), back and forward (Alt+Left,
// Alt+Right), print (Ctrl+P), find (Ctrl+F) and zoom (Ctrl+plus, Ctrl+minus,
// Ctrl+0, Ctrl+wheel). They act only on what the page left alone: WebKit
// offers every key to the page first and hands back the ones it did not take.
// Back, forward and Ctrl+wheel are the exceptions, taken before the page (as
// GNOME Web takes Alt+arrows): WebKit's own scrolling counts every arrow key
// and every wheel turn over a long page as taken.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "shell/gtk/find_bar.h"
#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/print_dialog.h"
#include "shell/gtk/zoom_level.h"

namespace quorvel::gtk {

class TBrowserKeys {
public:
    // overlay holds view (at any depth) and takes the find bar; the view starts
    // at the kept zoom level. Destroy this before the window.
    TBrowserKeys(GtkWindow* window, WebKitWebView* view, GtkOverlay* overlay, const TZoomLevel& zoom);
    ~TBrowserKeys();
    TBrowserKeys(const TBrowserKeys&) = delete;
    TBrowserKeys& operator=(const TBrowserKeys&) = delete;

    // What a key asks for.
    enum class TCommand {
        None, Reload, ReloadPastCache, Back, Forward, Print, Find, ZoomIn, ZoomOut, ZoomNormal, Escape
    };

private:
    bool Run(TCommand command);
    void SetZoom(double level);

    static gboolean OnKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
    static gboolean OnViewKeyPress(GtkWidget* widget, GdkEventKey* event, gpointer self);
    static gboolean OnScroll(GtkWidget* widget, GdkEventScroll* event, gpointer self);

    WebKitWebView* FView;
    const TZoomLevel& FZoom;
    TFindBar FFindBar;
    TPrintDialog FPrint;
    double FWheel = 0;  // smooth scrolling, summed up to whole steps
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
