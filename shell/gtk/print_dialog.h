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
    TSignalGroup FSignals;  // last: dropped first
};

// What a page's own print() may open: WebKit's dialog, at most once in five
// seconds unless the user clicked or typed in the page since, and none once
// the user has cancelled two of them in a row within a minute, until the page
// loads again. A page calling print() in a loop would otherwise keep a modal
// dialog on screen, and the window could not even be closed.
class TScriptPrintLimit {
public:
    explicit TScriptPrintLimit(WebKitWebView* view);
    ~TScriptPrintLimit();
    TScriptPrintLimit(const TScriptPrintLimit&) = delete;
    TScriptPrintLimit& operator=(const TScriptPrintLimit&) = delete;

private:
    static gboolean OnPrint(WebKitWebView* view, WebKitPrintOperation* operation, gpointer self);
    static gboolean OnInput(GtkWidget* view, GdkEvent* event, gpointer self);
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean OnDialogResponse(GSignalInvocationHint* hint, guint count, const GValue* values, gpointer self);
    void Answered(gint response);

    gint64 FLastDialog = 0;  // monotonic microseconds; 0: none on this page
    bool FInputSince = false;
    gint64 FLastCancel = 0;
    bool FRefused = false;
    gulong FResponseHook = 0;  // while WebKit's dialog for this page is open
    TSignalGroup FSignals;     // last: dropped first
};

}  // namespace quorvel::gtk
