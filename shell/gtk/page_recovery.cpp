#include "shell/gtk/page_recovery.h"

#include "shell/gtk/browser_rules.h"

namespace quorvel::gtk {
namespace {

constexpr gint64 kCrashWindow = 60 * G_USEC_PER_SEC;
constexpr std::size_t kCrashesBeforeNotice = 3;
constexpr guint kCheckAnswerMs = 3000;
constexpr guint kHangSeconds = 10;
// The check's own script world: nothing of the page runs in it.
constexpr const char* kCheckWorld = "quorvel-check";

// A load that failed on the way to the server: not a cancellation, a policy
// decision, a scheme WebKit lacks or a certificate, and not an HTTP status,
// which is a page of its own.
bool FailedOnNetwork(const GError* error) {
    if (error->domain == WEBKIT_NETWORK_ERROR) {
        return error->code == WEBKIT_NETWORK_ERROR_FAILED || error->code == WEBKIT_NETWORK_ERROR_TRANSPORT;
    }
    if (error->domain == G_IO_ERROR) return error->code != G_IO_ERROR_CANCELLED;
    return error->domain == G_RESOLVER_ERROR;
}

}  // namespace

TPageRecovery::TPageRecovery(WebKitWebView* view, GtkOverlay* overlay, std::function<bool()> ending)
    : FView(view), FEnding(std::move(ending)), FNotice(overlay, GTK_WIDGET(view)) {
    FSignals.Connect(view, "web-process-terminated", OnTerminated, this);
    FSignals.Connect(view, "load-failed", OnLoadFailed, this);
    FSignals.Connect(view, "load-changed", OnLoadChanged, this);
    FSignals.Connect(view, "notify::is-web-process-responsive", OnResponsive, this);
    // Before WebKit's own handler, which takes the press.
    FSignals.Connect(view, "button-press-event", OnPress, this);
    FSignals.Connect(g_network_monitor_get_default(), "network-changed", OnNetworkChanged, this);
}

TPageRecovery::~TPageRecovery() {
    FSignals.DisconnectAll();
    StopRetries();
    StopHangWatch();
}

void TPageRecovery::Remove(guint& source) {
    if (source != 0) g_source_remove(source);
    source = 0;
}

void TPageRecovery::OnTerminated(WebKitWebView* view, WebKitWebProcessTerminationReason reason, gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    // The shell's own doing: a hung page's reload, or the end of the program.
    if (reason == WEBKIT_WEB_PROCESS_TERMINATED_BY_API || recovery->FEnding()) return;
    recovery->StopHangWatch();
    recovery->FShown = TShown::Nothing;
    recovery->FNotice.Hide();
    const gint64 now = g_get_monotonic_time();
    auto& crashes = recovery->FCrashes;
    while (!crashes.empty() && now - crashes.front() >= kCrashWindow) crashes.pop_front();
    crashes.push_back(now);
    if (crashes.size() < kCrashesBeforeNotice) {
        webkit_web_view_reload(view);
        return;
    }
    const std::string why = reason == WEBKIT_WEB_PROCESS_EXCEEDED_MEMORY_LIMIT
                                ? "The page stopped: it used more memory than it may."
                                : "The page stopped: its process crashed.";
    recovery->FShown = TShown::Stopped;
    recovery->FNotice.Show(why, {{"_Reload", [view] { webkit_web_view_reload(view); }}});
}

gboolean TPageRecovery::OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    if (!FailedOnNetwork(error) || recovery->FEnding()) return FALSE;
    recovery->FLoadFailed = true;
    recovery->FErrorPageNext = true;
    recovery->FFailedUri = uri != nullptr ? uri : "";
    Remove(recovery->FRetrySource);
    recovery->FRetryDelayMs = NextRetryDelayMs(recovery->FRetryDelayMs);
    recovery->FRetrySource = g_timeout_add(static_cast<guint>(recovery->FRetryDelayMs), OnRetry, self);
    // WebKit's error text stays until a try succeeds.
    return FALSE;
}

gboolean TPageRecovery::OnRetry(gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    recovery->FRetrySource = 0;
    recovery->Retry();
    return G_SOURCE_REMOVE;
}

void TPageRecovery::Retry() {
    if (FFailedUri.empty() || FEnding()) return;
    FRetrying = true;
    // As any navigation, through the guard.
    webkit_web_view_load_uri(FView, FFailedUri.c_str());
}

void TPageRecovery::OnNetworkChanged(GNetworkMonitor*, gboolean available, gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    if (!available || recovery->FRetrySource == 0) return;
    Remove(recovery->FRetrySource);
    recovery->Retry();
}

void TPageRecovery::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    switch (event) {
        case WEBKIT_LOAD_STARTED:
            // WebKit's error text comes as a load of its own, which is no new
            // navigation: it must neither reset the gaps nor end the retries.
            if (recovery->FErrorPageNext) {
                recovery->FErrorPageNext = false;
                recovery->FInErrorPage = true;
                break;
            }
            recovery->FInErrorPage = false;
            // F5 or a new navigation: the gaps start over.
            if (!recovery->FRetrying) recovery->StopRetries();
            recovery->FRetrying = false;
            recovery->FLoadFailed = false;
            break;
        case WEBKIT_LOAD_COMMITTED:
            if (recovery->FShown == TShown::Stopped) {
                recovery->FShown = TShown::Nothing;
                recovery->FNotice.Hide();
            }
            break;
        case WEBKIT_LOAD_FINISHED:
            if (!recovery->FLoadFailed && !recovery->FInErrorPage) recovery->StopRetries();
            recovery->FInErrorPage = false;
            break;
        default:
            break;
    }
}

void TPageRecovery::StopRetries() {
    Remove(FRetrySource);
    FRetryDelayMs = 0;
    FFailedUri.clear();
}

void TPageRecovery::OnResponsive(GObject*, GParamSpec*, gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    recovery->FWebKitResponsive = webkit_web_view_get_is_web_process_responsive(recovery->FView);
    recovery->UpdateHang();
}

gboolean TPageRecovery::OnPress(GtkWidget*, GdkEvent*, gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    // One check at a time, and none while nobody touches the page.
    if (recovery->FCheck) return FALSE;
    recovery->FCheck.reset(g_cancellable_new());
    webkit_web_view_evaluate_javascript(recovery->FView, "0", -1, kCheckWorld, nullptr, recovery->FCheck.get(),
                                        OnChecked, self);
    recovery->FCheckSource = g_timeout_add(kCheckAnswerMs, OnCheckOverdue, self);
    return FALSE;
}

void TPageRecovery::OnChecked(GObject* view, GAsyncResult* result, gpointer self) {
    GError* error = nullptr;
    if (JSCValue* value = webkit_web_view_evaluate_javascript_finish(WEBKIT_WEB_VIEW(view), result, &error)) {
        g_object_unref(value);
    }
    // A cancelled check may have outlived its recovery.
    const bool cancelled = error != nullptr && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
    if (error != nullptr) g_error_free(error);
    if (cancelled) return;
    // Any answer, an error included, came from a process that is not stuck.
    auto* recovery = static_cast<TPageRecovery*>(self);
    recovery->FCheck.reset();
    Remove(recovery->FCheckSource);
    recovery->FCheckOverdue = false;
    recovery->UpdateHang();
}

gboolean TPageRecovery::OnCheckOverdue(gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    recovery->FCheckSource = 0;
    recovery->FCheckOverdue = true;
    recovery->UpdateHang();
    return G_SOURCE_REMOVE;
}

void TPageRecovery::UpdateHang() {
    const bool unresponsive = !FWebKitResponsive || FCheckOverdue;
    if (unresponsive) {
        if (FHangSource == 0 && FShown != TShown::Hung) FHangSource = g_timeout_add_seconds(kHangSeconds, OnHung, this);
        return;
    }
    Remove(FHangSource);
    if (FShown == TShown::Hung) {
        FShown = TShown::Nothing;
        FNotice.Hide();
    }
}

gboolean TPageRecovery::OnHung(gpointer self) {
    auto* recovery = static_cast<TPageRecovery*>(self);
    recovery->FHangSource = 0;
    if (recovery->FEnding()) return G_SOURCE_REMOVE;
    recovery->FShown = TShown::Hung;
    recovery->FNotice.Show("The page is not responding.",
                           {{"_Reload", [recovery] { recovery->ReloadInNewProcess(); }},
                            {"_Wait", [recovery] {
                                 // Asked again if it still does not answer.
                                 recovery->FShown = TShown::Nothing;
                                 recovery->UpdateHang();
                             }}});
    return G_SOURCE_REMOVE;
}

void TPageRecovery::ReloadInNewProcess() {
    FShown = TShown::Nothing;
    StopHangWatch();
    webkit_web_view_terminate_web_process(FView);
    webkit_web_view_reload(FView);
}

void TPageRecovery::StopHangWatch() {
    if (FCheck) g_cancellable_cancel(FCheck.get());
    FCheck.reset();
    Remove(FCheckSource);
    Remove(FHangSource);
    FCheckOverdue = false;
    FWebKitResponsive = true;
}

}  // namespace quorvel::gtk
