#include "shell/gtk/page_notice.h"

namespace quorvel::gtk {
namespace {

constexpr const char* kIndexKey = "quorvel-notice-button";

}  // namespace

TPageNotice::TPageNotice(GtkOverlay* overlay, GtkWidget* focusBack)
    : FBar(gtk_frame_new(nullptr)), FFocusBack(focusBack) {
    gtk_style_context_add_class(gtk_widget_get_style_context(FBar), "app-notification");
    gtk_widget_set_halign(FBar, GTK_ALIGN_CENTER);
    gtk_widget_set_valign(FBar, GTK_ALIGN_START);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
    FLabel = gtk_label_new("");
    gtk_label_set_line_wrap(GTK_LABEL(FLabel), TRUE);
    gtk_label_set_max_width_chars(GTK_LABEL(FLabel), 60);
    FButtons = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    gtk_box_pack_start(GTK_BOX(row), FLabel, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(row), FButtons, FALSE, FALSE, 0);
    gtk_container_add(GTK_CONTAINER(FBar), row);
    gtk_widget_show_all(row);
    // The window's show must not open it.
    gtk_widget_set_no_show_all(FBar, TRUE);
    gtk_overlay_add_overlay(overlay, FBar);
}

TPageNotice::~TPageNotice() = default;

void TPageNotice::Show(const std::string& text, std::vector<TButton> buttons) {
    gtk_container_foreach(GTK_CONTAINER(FButtons), [](GtkWidget* button, gpointer) { gtk_widget_destroy(button); },
                          nullptr);
    FActions = std::move(buttons);
    gtk_label_set_text(GTK_LABEL(FLabel), text.c_str());
    GtkWidget* first = nullptr;
    for (std::size_t i = 0; i < FActions.size(); ++i) {
        GtkWidget* button = gtk_button_new_with_mnemonic(FActions[i].Label.c_str());
        g_object_set_data(G_OBJECT(button), kIndexKey, GSIZE_TO_POINTER(i));
        FSignals.Connect(button, "clicked", OnClicked, this);
        gtk_box_pack_start(GTK_BOX(FButtons), button, FALSE, FALSE, 0);
        gtk_widget_show(button);
        if (first == nullptr) first = button;
    }
    if (first != nullptr) gtk_style_context_add_class(gtk_widget_get_style_context(first), "suggested-action");
    gtk_widget_show(FBar);
    if (first != nullptr) gtk_widget_grab_focus(first);
}

void TPageNotice::Hide() {
    if (!IsShown()) return;
    const bool hadFocus = gtk_container_get_focus_child(GTK_CONTAINER(FBar)) != nullptr;
    gtk_widget_hide(FBar);
    if (hadFocus) gtk_widget_grab_focus(FFocusBack);
}

void TPageNotice::OnClicked(GtkButton* button, gpointer self) {
    auto* notice = static_cast<TPageNotice*>(self);
    const std::size_t index = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(button), kIndexKey));
    if (index >= notice->FActions.size()) return;
    // Taken out first: the action may show another notice.
    std::function<void()> action = notice->FActions[index].Action;
    notice->Hide();
    if (action) action();
}

}  // namespace quorvel::gtk
