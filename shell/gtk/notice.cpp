#include "shell/gtk/notice.h"

namespace quorvel::gtk {

void TNotice::Show(GtkWindow* parent, const std::string& title, const std::string& text,
                   const std::string& detail) {
    Dismiss();
    FDialog.reset(gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, GTK_MESSAGE_ERROR, GTK_BUTTONS_CLOSE, "%s",
                                         text.c_str()));
    GtkWidget* dialog = FDialog.get();
    if (!detail.empty()) gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", detail.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), title.c_str());
    gtk_window_set_position(GTK_WINDOW(dialog), parent != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    FResponse = TSignalConnection(dialog, g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), this));
    gtk_window_present(GTK_WINDOW(dialog));
}

void TNotice::Dismiss() {
    FResponse.Disconnect();
    FDialog.reset();
}

void TNotice::OnResponse(GtkDialog*, gint, gpointer self) { static_cast<TNotice*>(self)->Dismiss(); }

}  // namespace quorvel::gtk
