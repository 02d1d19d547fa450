// What every window of the shell gets for its view, the main window and each
// second window alike: the guard's policy, the browser's keys, the limit on
// a page's own printing, its permissions and its recovery from crashes, hangs
// and failed loads.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "shell/gtk/browser_keys.h"
#include "shell/gtk/notifications.h"
#include "shell/gtk/page_recovery.h"
#include "shell/gtk/print_dialog.h"
#include "shell/gtk/second_window.h"
#include "shell/gtk/view_policy.h"

namespace quorvel::gtk {

class TWindowChrome final : public IWindowAttachment {
public:
    // overlay holds view (at any depth) and takes what lies over the page.
    // Destroy this before the window.
    TWindowChrome(GtkWindow* window, WebKitWebView* view, GtkOverlay* overlay, const TBrowserServices& services)
        : FPolicy(view, services),
          FKeys(window, view, overlay, *services.Zoom),
          FPrintLimit(view),
          FPermissions(view, services.MainWindow, services.Ending),
          FRecovery(view, overlay, services.Ending) {}

private:
    TViewPolicy FPolicy;
    TBrowserKeys FKeys;
    TScriptPrintLimit FPrintLimit;
    TPagePermissions FPermissions;
    TPageRecovery FRecovery;
};

}  // namespace quorvel::gtk
