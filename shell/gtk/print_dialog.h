// Printing one browser window's page through the GTK print dialog, the dialog
// window.print() shows. The dialog is modal to its window but runs no loop of
// its own, so the end of the session and the close marker still end the
// program while it is open.
#pragma once

#include <gtk/gtk.h>
#include <webkit2/webkit2.h>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

class TPrintDialog {
public:
    TPrintDialog(GtkWindow* parent, WebKitWebView* view);
    ~TPrintDialog();
    TPrintDialog(const TPrintDialog&) = delete;
    TPrintDialog& operator=(const TPrintDialog&) = delete;

    // Shows the dialog, or brings it back to the front when it is open.
    void Open();

private:
    void Finish(gint response);
    static void OnResponse(GtkDialog* dialog, gint response, gpointer self);

    GtkWindow* FParent;
    WebKitWebView* FView;
    // The last choices, offered again by the next dialog.
    TGObjectPtr<GtkPrintSettings> FSettings;
    TGObjectPtr<GtkPageSetup> FPageSetup;
    // Printing goes on after the dialog has closed.
    TGObjectPtr<WebKitPrintOperation> FOperation;
    TToplevelPtr FDialog;
    TSignalConnection FResponse;
};

// Answers Cancel to every open print dialog, WebKit's own for a page's
// window.print() included: that one runs a loop of its own, which would hold
// off the end of the session until someone closed the dialog.
void CancelPrintDialogs();

}  // namespace quorvel::gtk
