#include "shell/gtk/view_policy.h"

#include "shell/gtk/browser_rules.h"

namespace quorvel::gtk {
namespace {

enum class TTarget { Link, Image, Media };

// WebKit's own items would open any address in a window of the shell, and
// download without asking the guard; these take their place.
struct TMenuItem {
    WebKitContextMenuAction Stock;
    bool Download;
    TTarget Target;
    const char* Label;
};
constexpr TMenuItem kMenuItems[] = {
    {WEBKIT_CONTEXT_MENU_ACTION_OPEN_LINK_IN_NEW_WINDOW, false, TTarget::Link, "Open Link in New Window"},
    {WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_LINK_TO_DISK, true, TTarget::Link, "Download Linked File"},
    {WEBKIT_CONTEXT_MENU_ACTION_OPEN_IMAGE_IN_NEW_WINDOW, false, TTarget::Image, "Open Image in New Window"},
    {WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_IMAGE_TO_DISK, true, TTarget::Image, "Save Image As"},
    {WEBKIT_CONTEXT_MENU_ACTION_OPEN_VIDEO_IN_NEW_WINDOW, false, TTarget::Media, "Open Video in New Window"},
    {WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_VIDEO_TO_DISK, true, TTarget::Media, "Download Video"},
    {WEBKIT_CONTEXT_MENU_ACTION_OPEN_AUDIO_IN_NEW_WINDOW, false, TTarget::Media, "Open Audio in New Window"},
    {WEBKIT_CONTEXT_MENU_ACTION_DOWNLOAD_AUDIO_TO_DISK, true, TTarget::Media, "Download Audio"},
};

const gchar* TargetUri(WebKitHitTestResult* hit, TTarget target) {
    switch (target) {
        case TTarget::Link: return webkit_hit_test_result_get_link_uri(hit);
        case TTarget::Image: return webkit_hit_test_result_get_image_uri(hit);
        case TTarget::Media: return webkit_hit_test_result_get_media_uri(hit);
    }
    return nullptr;
}

std::string RequestUri(WebKitURIRequest* request) {
    const gchar* uri = webkit_uri_request_get_uri(request);
    return uri != nullptr ? uri : "";
}

}  // namespace

TViewPolicy::TViewPolicy(WebKitWebView* view, const TBrowserServices& services)
    : FView(view),
      FServices(services),
      FOpenItem(g_simple_action_new("open-in-new-window", G_VARIANT_TYPE_STRING)),
      FDownloadItem(g_simple_action_new("download", G_VARIANT_TYPE_STRING)) {
    FSignals.Connect(view, "decide-policy", OnDecidePolicy, this);
    FSignals.Connect(view, "create", OnCreate, this);
    FSignals.Connect(view, "context-menu", OnContextMenu, this);
    FSignals.Connect(FOpenItem.get(), "activate", OnOpenItem, this);
    FSignals.Connect(FDownloadItem.get(), "activate", OnDownloadItem, this);
}

// A menu still on screen keeps the actions alive, but no longer reaches us.
TViewPolicy::~TViewPolicy() = default;

GtkWindow* TViewPolicy::Toplevel() const {
    GtkWidget* toplevel = gtk_widget_get_toplevel(GTK_WIDGET(FView));
    return gtk_widget_is_toplevel(toplevel) ? GTK_WINDOW(toplevel) : nullptr;
}

bool TViewPolicy::HandedOff(const std::string& uri, bool linkToNewWindow, bool byUser) {
    const THandoff handoff = HandoffFor(uri, linkToNewWindow, FServices.StartPageHost);
    if (handoff == THandoff::None) return false;
    // Nothing goes to another program unless the user started it: a page's
    // script would otherwise launch programs, or raise questions, at will.
    if (byUser) FServices.Handoff->HandOff(Toplevel(), uri, handoff == THandoff::Ask);
    return true;
}

bool TViewPolicy::MayOpen(const std::string& uri) const {
    const gchar* page = webkit_web_view_get_uri(FView);
    return PageMayOpenWindow(page != nullptr ? page : "", uri);
}

gboolean TViewPolicy::OnDecidePolicy(WebKitWebView* view, WebKitPolicyDecision* decision,
                                     WebKitPolicyDecisionType type, gpointer self) {
    const bool newWindow = type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION;
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && !newWindow) return FALSE;
    auto* policy = static_cast<TViewPolicy*>(self);
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    const std::string uri = RequestUri(webkit_navigation_action_get_request(action));
    if (!policy->FServices.Allow(uri)) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    const bool byUser = webkit_navigation_action_is_user_gesture(action);
    // A download this navigation turns into knows by this who started it.
    if (!newWindow) policy->FServices.Gestures->Note(view, uri, byUser);
    const bool link = webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_LINK_CLICKED;
    // The page stays as it is, whatever becomes of the address.
    if (policy->HandedOff(uri, newWindow && link, byUser) || (newWindow && !policy->MayOpen(uri))) {
        webkit_policy_decision_ignore(decision);
        return TRUE;
    }
    webkit_policy_decision_use(decision);
    return TRUE;
}

GtkWidget* TViewPolicy::OnCreate(WebKitWebView* view, WebKitNavigationAction* action, gpointer self) {
    // window.open, and new-window links the decision above let through; a
    // script's window of another site (a sign-in pop-up) opens here too.
    auto* policy = static_cast<TViewPolicy*>(self);
    const std::string uri = RequestUri(webkit_navigation_action_get_request(action));
    if (!policy->FServices.Allow(uri)) return nullptr;
    if (policy->HandedOff(uri, false, webkit_navigation_action_is_user_gesture(action))) return nullptr;
    // WebKit would refuse the address to the page and leave the window empty.
    if (!policy->MayOpen(uri)) return nullptr;
    return GTK_WIDGET(policy->FServices.Windows->Create(view));
}

gboolean TViewPolicy::OnContextMenu(WebKitWebView*, WebKitContextMenu* menu, GdkEvent*, WebKitHitTestResult* hit,
                                    gpointer self) {
    auto* policy = static_cast<TViewPolicy*>(self);
    for (guint i = 0; i < webkit_context_menu_get_n_items(menu); ++i) {
        WebKitContextMenuItem* item = webkit_context_menu_get_item_at_position(menu, i);
        const WebKitContextMenuAction stock = webkit_context_menu_item_get_stock_action(item);
        if (stock == WEBKIT_CONTEXT_MENU_ACTION_OPEN_FRAME_IN_NEW_WINDOW) {
            webkit_context_menu_remove(menu, item);
            --i;
            continue;
        }
        for (const TMenuItem& own : kMenuItems) {
            const gchar* uri = own.Stock == stock ? TargetUri(hit, own.Target) : nullptr;
            if (uri == nullptr) continue;
            webkit_context_menu_remove(menu, item);
            // What the page could not open itself (a local file, a data:
            // page) is not offered; other programs' addresses go as a click's.
            const bool offered =
                policy->MayOpen(uri) || HandoffFor(uri, true, policy->FServices.StartPageHost) != THandoff::None;
            if (offered) {
                GAction* action = G_ACTION(own.Download ? policy->FDownloadItem.get() : policy->FOpenItem.get());
                webkit_context_menu_insert(
                    menu, webkit_context_menu_item_new_from_gaction(action, own.Label, g_variant_new_string(uri)),
                    static_cast<gint>(i));
            } else {
                --i;
            }
            break;
        }
    }
    return FALSE;
}

void TViewPolicy::OnOpenItem(GSimpleAction*, GVariant* variant, gpointer self) {
    auto* policy = static_cast<TViewPolicy*>(self);
    const std::string uri = g_variant_get_string(variant, nullptr);
    if (!policy->FServices.Allow(uri) || policy->HandedOff(uri, true, true) || !policy->MayOpen(uri)) return;
    policy->FServices.Windows->Open(policy->FView, uri);
}

void TViewPolicy::OnDownloadItem(GSimpleAction*, GVariant* variant, gpointer self) {
    auto* policy = static_cast<TViewPolicy*>(self);
    const std::string uri = g_variant_get_string(variant, nullptr);
    if (!policy->FServices.Allow(uri) || !policy->MayOpen(uri)) return;
    policy->FServices.Gestures->Note(policy->FView, uri, true);
    g_object_unref(webkit_web_view_download_uri(policy->FView, uri.c_str()));
}

}  // namespace quorvel::gtk
