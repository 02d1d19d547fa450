#include "shell/gtk/print_dialog.h"

#include <gtk/gtkunixprint.h>

namespace quorvel::gtk {

TPrintDialog::TPrintDialog(GtkWindow* parent, WebKitWebView* view) : FParent(parent), FView(view) {}

TPrintDialog::~TPrintDialog() = default;

void TPrintDialog::Open() {
    if (FDialog) {
        gtk_window_present(GTK_WINDOW(FDialog.get()));
        return;
    }
    FDialog.reset(gtk_print_unix_dialog_new(nullptr, FParent));
    auto* dialog = GTK_PRINT_UNIX_DIALOG(FDialog.get());
    // What WebKit's own print dialog offers: the page is laid out by WebKit.
    gtk_print_unix_dialog_set_manual_capabilities(
        dialog, static_cast<GtkPrintCapabilities>(GTK_PRINT_CAPABILITY_NUMBER_UP |
                                                  GTK_PRINT_CAPABILITY_NUMBER_UP_LAYOUT |
                                                  GTK_PRINT_CAPABILITY_PAGE_SET | GTK_PRINT_CAPABILITY_REVERSE |
                                                  GTK_PRINT_CAPABILITY_COPIES | GTK_PRINT_CAPABILITY_COLLATE |
                                                  GTK_PRINT_CAPABILITY_SCALE));
    gtk_print_unix_dialog_set_embed_page_setup(dialog, TRUE);
    if (FSettings) gtk_print_unix_dialog_set_settings(dialog, FSettings.get());
    if (FPageSetup) gtk_print_unix_dialog_set_page_setup(dialog, FPageSetup.get());
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    FSignals.Connect(dialog, "response", OnResponse, this);
    gtk_window_present(GTK_WINDOW(dialog));
}

void TPrintDialog::Finish(gint response) {
    auto* dialog = GTK_PRINT_UNIX_DIALOG(FDialog.get());
    if (response == GTK_RESPONSE_OK) {
        FSettings.reset(gtk_print_unix_dialog_get_settings(dialog));
        GtkPageSetup* setup = gtk_print_unix_dialog_get_page_setup(dialog);
        FPageSetup.reset(setup != nullptr ? gtk_page_setup_copy(setup) : nullptr);
        FOperation.reset(webkit_print_operation_new(FView));
        webkit_print_operation_set_print_settings(FOperation.get(), FSettings.get());
        if (FPageSetup) webkit_print_operation_set_page_setup(FOperation.get(), FPageSetup.get());
        webkit_print_operation_print(FOperation.get());
    }
    FDialog.reset();
}

void TPrintDialog::OnResponse(GtkDialog*, gint response, gpointer self) {
    // Escape, the close button and Cancel all answer here.
    static_cast<TPrintDialog*>(self)->Finish(response);
}

namespace {

constexpr gint64 kScriptPrintGap = 5 * G_USEC_PER_SEC;
constexpr gint64 kCancelWindow = 60 * G_USEC_PER_SEC;

}  // namespace

TScriptPrintLimit::TScriptPrintLimit(WebKitWebView* view) {
    FSignals.Connect(view, "print", OnPrint, this);
    // Connected before WebKit's own handlers, which take the events.
    FSignals.Connect(view, "button-press-event", OnInput, this);
    FSignals.Connect(view, "key-press-event", OnInput, this);
    FSignals.Connect(view, "load-changed", OnLoadChanged, this);
}

TScriptPrintLimit::~TScriptPrintLimit() {
    FSignals.DisconnectAll();
    if (FResponseHook != 0) {
        g_signal_remove_emission_hook(g_signal_lookup("response", GTK_TYPE_DIALOG), FResponseHook);
    }
}

gboolean TScriptPrintLimit::OnPrint(WebKitWebView*, WebKitPrintOperation*, gpointer self) {
    auto* limit = static_cast<TScriptPrintLimit*>(self);
    const gint64 now = g_get_monotonic_time();
    const bool tooSoon = limit->FLastDialog != 0 && !limit->FInputSince && now - limit->FLastDialog < kScriptPrintGap;
    // Handled: the page's print() returns and nothing is shown.
    if (limit->FRefused || tooSoon || limit->FResponseHook != 0) return TRUE;
    limit->FLastDialog = now;
    limit->FInputSince = false;
    // WebKit runs its dialog once this returns; its answer tells a cancel.
    limit->FResponseHook =
        g_signal_add_emission_hook(g_signal_lookup("response", GTK_TYPE_DIALOG), 0, OnDialogResponse, self, nullptr);
    return FALSE;
}

gboolean TScriptPrintLimit::OnDialogResponse(GSignalInvocationHint*, guint count, const GValue* values,
                                             gpointer self) {
    if (count < 2 || !GTK_IS_PRINT_UNIX_DIALOG(g_value_get_object(&values[0]))) return TRUE;
    auto* limit = static_cast<TScriptPrintLimit*>(self);
    limit->FResponseHook = 0;
    limit->Answered(g_value_get_int(&values[1]));
    // The hook goes with this answer.
    return FALSE;
}

void TScriptPrintLimit::Answered(gint response) {
    if (response == GTK_RESPONSE_OK || response == GTK_RESPONSE_APPLY) {
        FLastCancel = 0;
        return;
    }
    const gint64 now = g_get_monotonic_time();
    if (FLastCancel != 0 && now - FLastCancel < kCancelWindow) FRefused = true;
    FLastCancel = now;
}

gboolean TScriptPrintLimit::OnInput(GtkWidget*, GdkEvent*, gpointer self) {
    static_cast<TScriptPrintLimit*>(self)->FInputSince = true;
    return FALSE;
}

void TScriptPrintLimit::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    if (event != WEBKIT_LOAD_COMMITTED) return;
    auto* limit = static_cast<TScriptPrintLimit*>(self);
    limit->FLastDialog = 0;
    limit->FLastCancel = 0;
    limit->FRefused = false;
}

}  // namespace quorvel::gtk
