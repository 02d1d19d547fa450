// Downloads: every one asks where to save it, in a save dialog on the window
// that started it, with the suggested name in the user's download folder.
// A cancelled or failed download leaves nothing under the chosen name; a
// failure is told in a dialog.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/notice.h"

namespace quorvel::gtk {

// The XDG download folder; ~/Downloads, created when missing, when none is
// configured (GLib then names the home folder itself).
std::string DownloadFolder();
// A server's suggested name made safe to offer: a plain name inside the
// folder, never a path or a hidden file.
std::string SafeFileName(const std::string& suggested);

class TDownloads {
public:
    // allow: the navigation guard, true when the address may be fetched.
    // fallbackParent: the window for downloads whose view is gone.
    // startedIn: told the view of each download once the download is its own.
    TDownloads(WebKitWebContext* context, std::function<bool(const std::string&)> allow,
               std::function<GtkWindow*()> fallbackParent, std::function<void(WebKitWebView*)> startedIn);
    ~TDownloads();
    TDownloads(const TDownloads&) = delete;
    TDownloads& operator=(const TDownloads&) = delete;

private:
    class TDownload;
    static void OnStarted(WebKitWebContext* context, WebKitDownload* download, gpointer self);
    void Failed(GtkWindow* parent, const std::string& name, const std::string& reason);

    std::function<bool(const std::string&)> FAllow;
    std::function<GtkWindow*()> FFallbackParent;
    std::function<void(WebKitWebView*)> FStartedIn;
    std::vector<std::unique_ptr<TDownload>> FDownloads;
    TNotice FNotice;
    TSignalConnection FStarted;
};

}  // namespace quorvel::gtk
