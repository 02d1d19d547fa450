#include "shell/gtk/uri_handoff.h"

#include <memory>

namespace quorvel::gtk {
namespace {

struct TUriFree {
    void operator()(GUri* uri) const { g_uri_unref(uri); }
};
using TUriPtr = std::unique_ptr<GUri, TUriFree>;

constexpr gint64 kUnaskedGap = 2 * G_USEC_PER_SEC;

TUriPtr ParseUri(const std::string& text) { return TUriPtr{g_uri_parse(text.c_str(), G_URI_FLAGS_NONE, nullptr)}; }

int EffectivePort(GUri* uri) {
    const int port = g_uri_get_port(uri);
    if (port > 0) return port;
    return g_ascii_strcasecmp(g_uri_get_scheme(uri), "https") == 0 ? 443 : 80;
}

}  // namespace

std::string UriScheme(const std::string& uri) {
    const TGCharPtr scheme{g_uri_parse_scheme(uri.c_str())};
    if (!scheme) return std::string();
    return TGCharPtr{g_ascii_strdown(scheme.get(), -1)}.get();
}

bool WebKitLoadsScheme(const std::string& uri) {
    const std::string scheme = UriScheme(uri);
    // file: stays with WebKit, which refuses it to remote pages: a page must
    // not get a local file opened by the desktop.
    for (const char* own : {"", "http", "https", "about", "data", "blob", "javascript", "file"}) {
        if (scheme == own) return true;
    }
    return false;
}

bool IsWebAddress(const std::string& uri) {
    const std::string scheme = UriScheme(uri);
    return scheme == "http" || scheme == "https";
}

bool IsStartPageSite(const std::string& uri, const std::string& startPageHost) {
    if (!IsWebAddress(uri)) return false;
    TUriPtr target = ParseUri(uri);
    TUriPtr start = ParseUri("http://" + startPageHost + "/");
    if (!target || !start || g_uri_get_host(target.get()) == nullptr || g_uri_get_host(start.get()) == nullptr) {
        return false;
    }
    if (g_ascii_strcasecmp(g_uri_get_host(target.get()), g_uri_get_host(start.get())) != 0) return false;
    const int port = EffectivePort(target.get());
    if (port == EffectivePort(start.get())) return true;
    // A host named without a port is the same site over TLS.
    return g_uri_get_port(start.get()) <= 0 && port == 443 && UriScheme(uri) == "https";
}

struct TUriHandoff::TLaunch {
    TUriHandoff* Owner;
    std::string Uri;
    GWeakRef Parent;
};

TUriHandoff::TUriHandoff() : FCancellable(g_cancellable_new()) {}

TUriHandoff::~TUriHandoff() {
    // Launches still under way report a cancellation and no longer reach us.
    g_cancellable_cancel(FCancellable.get());
}

void TUriHandoff::HandOff(GtkWindow* parent, const std::string& uri, bool byUser) {
    if (!byUser) {
        const gint64 now = g_get_monotonic_time();
        if (FLastUnasked != 0 && now - FLastUnasked < kUnaskedGap) return;
        FLastUnasked = now;
    }
    const std::string scheme = UriScheme(uri);
    if (TGObjectPtr<GAppInfo> handler{g_app_info_get_default_for_uri_scheme(scheme.c_str())}; !handler) {
        Failed(parent, uri, "No application is set up to open \"" + scheme + ":\" addresses.");
        return;
    }
    GdkDisplay* display = parent != nullptr ? gtk_widget_get_display(GTK_WIDGET(parent)) : gdk_display_get_default();
    TGObjectPtr<GdkAppLaunchContext> context{gdk_display_get_app_launch_context(display)};
    auto launch = std::make_unique<TLaunch>(TLaunch{this, uri, {}});
    g_weak_ref_init(&launch->Parent, parent);
    // The callback takes the launch back.
    g_app_info_launch_default_for_uri_async(uri.c_str(), G_APP_LAUNCH_CONTEXT(context.get()), FCancellable.get(),
                                            OnLaunched, launch.release());
}

void TUriHandoff::OnLaunched(GObject*, GAsyncResult* result, gpointer data) {
    std::unique_ptr<TLaunch> launch(static_cast<TLaunch*>(data));
    GError* error = nullptr;
    if (!g_app_info_launch_default_for_uri_finish(result, &error)) {
        if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
            TGObjectPtr<GtkWindow> parent{static_cast<GtkWindow*>(g_weak_ref_get(&launch->Parent))};
            launch->Owner->Failed(parent.get(), launch->Uri, error->message);
        }
        g_error_free(error);
    }
    g_weak_ref_clear(&launch->Parent);
}

void TUriHandoff::Failed(GtkWindow* parent, const std::string& uri, const std::string& reason) {
    FNotice.Show(parent, "Cannot open the address", "The address could not be opened.", reason + "\n\n" + uri);
}

}  // namespace quorvel::gtk
