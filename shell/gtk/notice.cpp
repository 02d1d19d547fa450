#include "shell/gtk/notice.h"

#include <gtk/gtkunixprint.h>

namespace quorvel::gtk {
namespace {

const char* IconFor(GtkMessageType type) {
    switch (type) {
        case GTK_MESSAGE_ERROR: return "dialog-error";
        case GTK_MESSAGE_WARNING: return "dialog-warning";
        case GTK_MESSAGE_QUESTION: return "dialog-question";
        default: return "dialog-information";
    }
}

}  // namespace

TToplevelPtr NewMessageDialog(GtkWindow* parent, GtkMessageType type, const std::string& title,
                              const std::string& text, const std::string& detail) {
    TToplevelPtr dialog{gtk_message_dialog_new(parent, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE, "%s", text.c_str())};
    auto* message = GTK_MESSAGE_DIALOG(dialog.get());
    if (!detail.empty()) gtk_message_dialog_format_secondary_text(message, "%s", detail.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog.get()), title.c_str());
    gtk_window_set_position(GTK_WINDOW(dialog.get()),
                            parent != nullptr ? GTK_WIN_POS_CENTER_ON_PARENT : GTK_WIN_POS_CENTER);
    GtkWidget* row = gtk_widget_get_parent(gtk_message_dialog_get_message_area(message));
    if (GTK_IS_BOX(row)) {
        GtkWidget* icon = gtk_image_new_from_icon_name(IconFor(type), GTK_ICON_SIZE_DIALOG);
        gtk_widget_set_valign(icon, GTK_ALIGN_START);
        gtk_box_pack_start(GTK_BOX(row), icon, FALSE, FALSE, 0);
        gtk_box_reorder_child(GTK_BOX(row), icon, 0);
        gtk_widget_show(icon);
    }
    return dialog;
}

void CancelOpenDialogs() {
    // An answer may destroy its dialog; the list holds no references.
    GList* windows = gtk_window_list_toplevels();
    for (GList* item = windows; item != nullptr; item = item->next) g_object_ref(item->data);
    for (GList* item = windows; item != nullptr; item = item->next) {
        if (GTK_IS_MESSAGE_DIALOG(item->data) || GTK_IS_PRINT_UNIX_DIALOG(item->data)) {
            gtk_dialog_response(GTK_DIALOG(item->data), GTK_RESPONSE_CANCEL);
        }
    }
    g_list_free_full(windows, g_object_unref);
}

void TNotice::Show(GtkWindow* parent, const std::string& title, const std::string& text,
                   const std::string& detail) {
    Dismiss();
    FDialog = NewMessageDialog(parent, GTK_MESSAGE_ERROR, title, text, detail);
    gtk_dialog_add_button(GTK_DIALOG(FDialog.get()), "_Close", GTK_RESPONSE_CLOSE);
    FSignals.Connect(FDialog.get(), "response", OnResponse, this);
    gtk_window_present(GTK_WINDOW(FDialog.get()));
}

void TNotice::Dismiss() { FDialog.reset(); }

void TNotice::OnResponse(GtkDialog*, gint, gpointer self) { static_cast<TNotice*>(self)->Dismiss(); }

void TQuestion::Ask(GtkWindow* parent, const std::string& title, const std::string& text, const std::string& detail,
                    const std::string& yesLabel, TAnswer answer) {
    if (FDialog) Answer(false);
    FAnswer = std::move(answer);
    FDialog = NewMessageDialog(parent, GTK_MESSAGE_QUESTION, title, text, detail);
    auto* dialog = GTK_DIALOG(FDialog.get());
    gtk_dialog_add_button(dialog, "_Cancel", GTK_RESPONSE_CANCEL);
    gtk_dialog_add_button(dialog, yesLabel.c_str(), GTK_RESPONSE_ACCEPT);
    gtk_dialog_set_default_response(dialog, GTK_RESPONSE_CANCEL);
    FSignals.Connect(dialog, "response", OnResponse, this);
    gtk_window_present(GTK_WINDOW(dialog));
    // The safe answer holds the focus, so that a stray Enter says no.
    gtk_widget_grab_focus(gtk_dialog_get_widget_for_response(dialog, GTK_RESPONSE_CANCEL));
}

void TQuestion::OnResponse(GtkDialog*, gint response, gpointer self) {
    static_cast<TQuestion*>(self)->Answer(response == GTK_RESPONSE_ACCEPT);
}

void TQuestion::Answer(bool yes) {
    // Taken out first: the answer may ask again.
    TAnswer answer = std::move(FAnswer);
    FAnswer = nullptr;
    GtkWindow* parent = FDialog ? gtk_window_get_transient_for(GTK_WINDOW(FDialog.get())) : nullptr;
    const TGObjectPtr<GtkWindow> keep{parent != nullptr ? GTK_WINDOW(g_object_ref(parent)) : nullptr};
    FDialog.reset();
    if (answer) answer(yes, parent);
}

}  // namespace quorvel::gtk
