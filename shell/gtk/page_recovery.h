// A view's page never stays dead. After a crash of its web process the view
// loads its page again, once per crash; the third crash within a minute
// leaves a notice with Reload instead. A main-frame load that failed on the
// network is tried again by itself (1 s, then doubling up to 30 s, and at once
// when the network comes back). A page that leaves the user's input unanswered
// for 10 s gets a notice offering to reload it in a new web process, or wait.
//
// WebKit counts a key, a wheel turn or a lone click as unanswered input, but
// never a pointer move, and a click after one waits behind it. So a press on
// the view also sends the page a check, in a script world of the shell's own
// that the page's scripts never meet: one left unanswered for 3 s counts as
// WebKit's own flag would.
#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <deque>
#include <functional>
#include <string>

#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/page_notice.h"

namespace quorvel::gtk {

class TPageRecovery {
public:
    // ending: true once the program is ending, when nothing starts again.
    TPageRecovery(WebKitWebView* view, GtkOverlay* overlay, std::function<bool()> ending);
    ~TPageRecovery();
    TPageRecovery(const TPageRecovery&) = delete;
    TPageRecovery& operator=(const TPageRecovery&) = delete;

private:
    static void OnTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason, gpointer self);
    static gboolean OnLoadFailed(WebKitWebView* view, WebKitLoadEvent event, gchar* uri, GError* error,
                                 gpointer self);
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static void OnNetworkChanged(GNetworkMonitor* monitor, gboolean available, gpointer self);
    static void OnResponsive(GObject* view, GParamSpec* property, gpointer self);
    static gboolean OnPress(GtkWidget* view, GdkEvent* event, gpointer self);
    static void OnChecked(GObject* view, GAsyncResult* result, gpointer self);
    static gboolean OnCheckOverdue(gpointer self);
    static gboolean OnRetry(gpointer self);
    static gboolean OnHung(gpointer self);

    void Retry();
    void StopRetries();
    void UpdateHang();
    void StopHangWatch();
    void ReloadInNewProcess();
    static void Remove(guint& source);

    WebKitWebView* FView;
    std::function<bool()> FEnding;
    TPageNotice FNotice;
    enum class TShown { Nothing, Stopped, Hung } FShown = TShown::Nothing;
    std::deque<gint64> FCrashes;  // monotonic microseconds, the last minute's
    // Failed loads.
    std::string FFailedUri;
    int FRetryDelayMs = 0;
    guint FRetrySource = 0;
    bool FRetrying = false;  // the load under way is a retry
    bool FLoadFailed = false;
    bool FErrorPageNext = false;  // WebKit's error text loads next
    bool FInErrorPage = false;    // and is loading
    // Hangs.
    bool FWebKitResponsive = true;
    bool FCheckOverdue = false;
    TGObjectPtr<GCancellable> FCheck;  // the check under way
    guint FCheckSource = 0;
    guint FHangSource = 0;
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
