// Addresses the shell does not load itself go to the desktop's handler for
// their scheme (a mail program for mailto:, the default browser for a link
// out of the mail host), through GIO.
#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <string>

#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/notice.h"

namespace quorvel::gtk {

// The scheme in lower case, or empty for an address without one.
std::string UriScheme(const std::string& uri);
// WebKit loads it itself (a relative or empty address included).
bool WebKitLoadsScheme(const std::string& uri);
bool IsWebAddress(const std::string& uri);
// The site of the start page: its host and port (host as "name[:port]").
bool IsStartPageSite(const std::string& uri, const std::string& startPageHost);

class TUriHandoff {
public:
    TUriHandoff();
    ~TUriHandoff();
    TUriHandoff(const TUriHandoff&) = delete;
    TUriHandoff& operator=(const TUriHandoff&) = delete;

    // Launches the handler without waiting for it; a failure is shown on
    // parent (which may be null, or gone by then). byUser: a click or a key
    // asked for it; the others are held to one every two seconds, so that a
    // page's script cannot launch programs or raise dialogs in a loop.
    void HandOff(GtkWindow* parent, const std::string& uri, bool byUser);

private:
    struct TLaunch;
    static void OnLaunched(GObject* source, GAsyncResult* result, gpointer launch);
    void Failed(GtkWindow* parent, const std::string& uri, const std::string& reason);

    TGObjectPtr<GCancellable> FCancellable;
    TNotice FNotice;
    gint64 FLastUnasked = 0;  // monotonic microseconds
};

}  // namespace quorvel::gtk
