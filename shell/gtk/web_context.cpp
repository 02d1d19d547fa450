#include "shell/gtk/web_context.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "quorvel/config.h"
#include "report/install_marker.h"
#include "shell/gtk/browser_rules.h"
#include "shell/gtk/sandbox_probe.h"

namespace quorvel::gtk {
namespace {

// The browser's cookies and site data live in the user's data folder, as the
// system browser keeps them for the Windows program.
constexpr const char* kBrowserFolder = "quorvel-browser";
// With no dictionary for any of the user's languages.
constexpr const char* kFallbackLanguage = "en_US";

// WebKit asks the program again at every Notification.requestPermission(),
// even for an origin it granted at start, without saying which origin or
// frame asks. Where the grant holds, the page gets its answer at once, so
// that every question that reaches the program comes from elsewhere and is
// refused (notifications.cpp).
constexpr const char* kGrantedStaysGranted = R"js((function () {
  if (typeof Notification !== 'function') return;
  var ask = Notification.requestPermission;
  Notification.requestPermission = function requestPermission(callback) {
    if (Notification.permission !== 'granted') return ask.apply(Notification, arguments);
    var answer = Promise.resolve('granted');
    if (typeof callback === 'function') answer.then(callback);
    return answer;
  };
})();)js";

std::string CacheFolder() { return std::string(g_get_user_cache_dir()) + "/" + kBrowserFolder; }

std::string GStreamerFolder() { return CacheFolder() + "/gstreamer-1.0"; }

void Complain(const std::string& path, int error) {
    std::fprintf(stderr, "quorvel: cannot keep %s for the user alone: %s\n", path.c_str(), std::strerror(error));
}

}  // namespace

std::string BrowserDataFolder() { return GetLocalAppDataPath() + "/" + kBrowserFolder; }

void MakePrivateFolder(const std::string& path) {
    if (g_mkdir_with_parents(path.c_str(), 0700) != 0) {
        Complain(path, errno);
        return;
    }
    // Opened, not named again, so that what is checked is what is changed.
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A link the user made points where the user wants: not followed.
        if (errno != ELOOP && errno != ENOTDIR) Complain(path, errno);
        return;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        Complain(path, errno);
    } else if (info.st_uid == geteuid() && (info.st_mode & 077) != 0 && fchmod(fd, info.st_mode & 07700) != 0) {
        Complain(path, errno);
    }
    close(fd);
}

void TWebContext::PrepareProcess() {
    g_set_application_name("Quorvel");
    // WebKit names the program to the notification server and the desktop
    // portals by the default application's ID, which is the installed desktop
    // entry's name; it is never registered on the bus.
    static TGObjectPtr<GApplication> application{
        g_application_new(config::kApplicationId, G_APPLICATION_NON_UNIQUE)};
    g_application_set_default(application.get());
    MakePrivateFolder(GStreamerFolder());
    g_setenv("GST_REGISTRY", (GStreamerFolder() + "/registry.bin").c_str(), FALSE);
}

TWebContext::TWebContext(std::string startPageHost) : FStartPageHost(std::move(startPageHost)) {
    const std::string data = BrowserDataFolder();
    const std::string cache = CacheFolder();
    // Before WebKit writes the session's cookies and mail into them.
    MakePrivateFolder(data);
    MakePrivateFolder(cache);
    TGObjectPtr<WebKitWebsiteDataManager> manager{webkit_website_data_manager_new(
        "base-data-directory", data.c_str(), "base-cache-directory", cache.c_str(), nullptr)};
    webkit_cookie_manager_set_persistent_storage(webkit_website_data_manager_get_cookie_manager(manager.get()),
                                                 (data + "/cookies.sqlite").c_str(),
                                                 WEBKIT_COOKIE_PERSISTENT_STORAGE_SQLITE);
    FContext.reset(webkit_web_context_new_with_website_data_manager(manager.get()));
    if (TSandboxProbe::Instance().CanRun()) webkit_web_context_set_sandbox_enabled(FContext.get(), TRUE);
    FSignals.Connect(FContext.get(), "initialize-notification-permissions", OnInitializeNotificationPermissions,
                     this);
    webkit_web_context_set_spell_checking_enabled(FContext.get(), TRUE);
}

TWebContext::~TWebContext() {
    FSignals.DisconnectAll();
    if (FSpellingSource != 0) g_source_remove(FSpellingSource);
}

GtkWidget* TWebContext::NewView() {
    GtkWidget* view = webkit_web_view_new_with_context(FContext.get());
    if (!FSpellingAsked) FSignals.Connect(view, "load-changed", OnLoadChanged, this);
    WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(view));
    // Measured: without GPU compositing the shell and its web processes take
    // about a quarter less memory and start sooner; a mail page needs neither
    // WebGL nor accelerated layers.
    webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
    webkit_settings_set_enable_webgl(settings, FALSE);
    // As the Windows control does: every window.open reaches the guard,
    // instead of WebKit dropping the ones made without a click.
    webkit_settings_set_javascript_can_open_windows_automatically(settings, TRUE);
    // Once: second windows, related views, share this view's scripts.
    const std::unique_ptr<WebKitUserScript, decltype(&webkit_user_script_unref)> granted{
        webkit_user_script_new(kGrantedStaysGranted, WEBKIT_USER_CONTENT_INJECT_ALL_FRAMES,
                               WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START, nullptr, nullptr),
        webkit_user_script_unref};
    webkit_user_content_manager_add_script(webkit_web_view_get_user_content_manager(WEBKIT_WEB_VIEW(view)),
                                           granted.get());
    return view;
}

void TWebContext::OnInitializeNotificationPermissions(WebKitWebContext* context, gpointer self) {
    // The user installed the program to read this mail: its site notifies
    // without asking, from its first script on; every other origin is
    // refused by the views.
    GList* allowed = nullptr;
    for (const TOrigin& origin : StartPageOrigins(static_cast<TWebContext*>(self)->FStartPageHost)) {
        allowed = g_list_prepend(allowed, webkit_security_origin_new(origin.Scheme.c_str(), origin.Host.c_str(),
                                                                     static_cast<guint16>(origin.Port)));
    }
    webkit_web_context_initialize_notification_permissions(context, allowed, nullptr);
    g_list_free_full(allowed, reinterpret_cast<GDestroyNotify>(webkit_security_origin_unref));
}

void TWebContext::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    auto* context = static_cast<TWebContext*>(self);
    if (event != WEBKIT_LOAD_FINISHED || context->FSpellingAsked) return;
    context->FSpellingAsked = true;
    // Loading a dictionary holds this thread for tens of milliseconds, which
    // during start-up would hold the web process's first requests too: it
    // waits until the first page has loaded (or failed to).
    context->FSpellingSource = g_idle_add_full(G_PRIORITY_LOW, OnLoadSpelling, context, nullptr);
}

gboolean TWebContext::OnLoadSpelling(gpointer self) {
    auto* context = static_cast<TWebContext*>(self);
    context->FSpellingSource = 0;
    std::vector<std::string> names;
    for (const gchar* const* name = g_get_language_names(); *name != nullptr; ++name) names.emplace_back(*name);
    std::vector<const gchar*> languages;
    const std::vector<std::string> wanted = SpellingLanguages(names);
    for (const std::string& language : wanted) languages.push_back(language.c_str());
    languages.push_back(nullptr);
    webkit_web_context_set_spell_checking_languages(context->Context(), languages.data());
    // WebKit keeps only the languages it has a dictionary for.
    if (webkit_web_context_get_spell_checking_languages(context->Context()) == nullptr) {
        const gchar* fallback[] = {kFallbackLanguage, nullptr};
        webkit_web_context_set_spell_checking_languages(context->Context(), fallback);
    }
    return G_SOURCE_REMOVE;
}

}  // namespace quorvel::gtk
