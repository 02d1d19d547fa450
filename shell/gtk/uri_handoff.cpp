#include "shell/gtk/uri_handoff.h"

#include <memory>

#include "shell/gtk/browser_rules.h"

namespace quorvel::gtk {
namespace {

// Long enough for any address a person reads; a longer one keeps its ends.
constexpr std::size_t kShownAddress = 160;

}  // namespace

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

void TUriHandoff::HandOff(GtkWindow* parent, const std::string& uri, bool ask) {
    const std::string scheme = UriScheme(uri);
    const TGObjectPtr<GAppInfo> handler{g_app_info_get_default_for_uri_scheme(scheme.c_str())};
    if (!handler) {
        Failed(parent, uri, "No application is set up to open \"" + scheme + ":\" addresses.");
        return;
    }
    if (!ask) {
        Launch(parent, uri);
        return;
    }
    const std::string program = g_app_info_get_display_name(handler.get());
    FQuestion.Ask(parent, "Open another program", "Open this address with \u201c" + program + "\u201d?",
                  ElideMiddle(uri, kShownAddress), "_Open", [this, uri](bool yes, GtkWindow* asked) {
                      if (yes) Launch(asked, uri);
                  });
}

void TUriHandoff::Launch(GtkWindow* parent, const std::string& uri) {
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
