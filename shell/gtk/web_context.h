// The browser's session, as every window of the shell shares it: WebKit's
// context over the user's data and cache folders (for the user alone),
// cookies, the web process sandbox, spelling in the user's languages, the
// start page's leave to notify; and the settings every view starts with.
#pragma once

#include <webkit2/webkit2.h>

#include <string>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

// The browser's data folder (cookies, site data, the zoom level).
std::string BrowserDataFolder();
// Makes path, with its missing parents, a folder for the user alone, and
// takes the others' access away from one the user owns that an earlier
// version left open; a symbolic link is left as it is. Failures are told on
// standard error and the program goes on.
void MakePrivateFolder(const std::string& path);

class TWebContext {
public:
    // Before GTK starts its threads, where changing the environment is still
    // safe: the name the desktop knows the program by, and where GStreamer,
    // in WebKit's web process, keeps its registry (otherwise WebKit lets the
    // sandboxed process write to the user's whole cache folder for it).
    static void PrepareProcess();

    // startPageHost: the site that may show notifications.
    explicit TWebContext(std::string startPageHost);
    ~TWebContext();
    TWebContext(const TWebContext&) = delete;
    TWebContext& operator=(const TWebContext&) = delete;

    WebKitWebContext* Context() const { return FContext.get(); }
    // A view of this context with the shell's settings; related views (second
    // windows) share them. The first view's first load brings the spelling
    // dictionaries in.
    GtkWidget* NewView();

private:
    static void OnInitializeNotificationPermissions(WebKitWebContext* context, gpointer self);
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean OnLoadSpelling(gpointer self);

    std::string FStartPageHost;
    TGObjectPtr<WebKitWebContext> FContext;
    bool FSpellingAsked = false;
    guint FSpellingSource = 0;
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
