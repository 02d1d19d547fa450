#include "shell/gtk/print_dialog.h"

#include <gtk/gtkunixprint.h>

namespace quorvel::gtk {

TPrintDialog::TPrintDialog(GtkWindow* parent, WebKitWebView* view) : FParent(parent), FView(view) {}

TPrintDialog::~TPrintDialog() {
    FResponse.Disconnect();
    FDialog.reset();
}

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
    FResponse = TSignalConnection(dialog, g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), this));
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
    FResponse.Disconnect();
    FDialog.reset();
}

void TPrintDialog::OnResponse(GtkDialog*, gint response, gpointer self) {
    // Escape, the close button and Cancel all answer here.
    static_cast<TPrintDialog*>(self)->Finish(response);
}

void CancelPrintDialogs() {
    // An answer may destroy its dialog; the list holds no references.
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) g_object_ref(item->data);
    for (GList* item = windows; item != nullptr; item = item->next) {
        if (GTK_IS_PRINT_UNIX_DIALOG(item->data)) gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_CANCEL);
    }
    g_list_free_full(windows, g_object_unref);
}

}  // namespace quorvel::gtk
