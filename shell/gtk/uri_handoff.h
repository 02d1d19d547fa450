// Addresses the shell does not load itself go to the desktop's handler for
// their scheme through GIO: a mail program for mailto:, the default browser
// for a link out of the mail's site, at once; any other scheme starts a
// program of the user's desktop with an address a stranger's mail chose, so
// it goes only once the user has said so in a question naming that program.
#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <string>

#include "shell/gtk/gobject_ptr.h"
#include "shell/gtk/notice.h"

namespace quorvel::gtk {

class TUriHandoff {
public:
    TUriHandoff();
    ~TUriHandoff();
    TUriHandoff(const TUriHandoff&) = delete;
    TUriHandoff& operator=(const TUriHandoff&) = delete;

    // Launches the handler without waiting for it, at once or (ask) after the
    // question on parent; a scheme with no handler, or a failed launch, is
    // told on parent instead. parent may be null, or gone by then.
    void HandOff(GtkWindow* parent, const std::string& uri, bool ask);

private:
    struct TLaunch;
    static void OnLaunched(GObject* source, GAsyncResult* result, gpointer launch);
    void Launch(GtkWindow* parent, const std::string& uri);
    void Failed(GtkWindow* parent, const std::string& uri, const std::string& reason);

    TGObjectPtr<GCancellable> FCancellable;
    TNotice FNotice;
    TQuestion FQuestion;
};

}  // namespace quorvel::gtk
