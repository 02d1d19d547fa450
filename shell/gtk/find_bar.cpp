#include "shell/gtk/find_bar.h"

#include <string>

namespace quorvel::gtk {
namespace {

// Counting stops here: a longer count says nothing more to a reader.
constexpr guint kMaxMatches = 1000;
constexpr guint kFindOptions = WEBKIT_FIND_OPTIONS_CASE_INSENSITIVE | WEBKIT_FIND_OPTIONS_WRAP_AROUND;

GtkWidget* IconButton(const char* icon, const char* tooltip) {
    GtkWidget* button = gtk_button_new_from_icon_name(icon, GTK_ICON_SIZE_BUTTON);
    gtk_widget_set_tooltip_text(button, tooltip);
    // A click must leave the typing where it was.
    gtk_widget_set_focus_on_click(button, FALSE);
    return button;
}

}  // namespace

TFindBar::TFindBar(WebKitWebView* view, GtkOverlay* overlay)
    : FView(view), FFinder(webkit_web_view_get_find_controller(view)), FBar(gtk_frame_new(nullptr)) {
    gtk_style_context_add_class(gtk_widget_get_style_context(FBar), "app-notification");
    gtk_widget_set_halign(FBar, GTK_ALIGN_END);
    gtk_widget_set_valign(FBar, GTK_ALIGN_START);
    gtk_widget_set_margin_end(FBar, 16);
    GtkWidget* row = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
    FEntry = gtk_search_entry_new();
    gtk_entry_set_width_chars(GTK_ENTRY(FEntry), 24);
    gtk_entry_set_placeholder_text(GTK_ENTRY(FEntry), "Find in page");
    FCount = gtk_label_new("");
    gtk_label_set_width_chars(GTK_LABEL(FCount), 12);
    gtk_label_set_xalign(GTK_LABEL(FCount), 0);
    FPrevious = IconButton("go-up-symbolic", "Previous match (Shift+Enter)");
    FNext = IconButton("go-down-symbolic", "Next match (Enter)");
    FClose = IconButton("window-close-symbolic", "Close (Escape)");
    for (GtkWidget* child : {FEntry, FCount, FPrevious, FNext, FClose}) {
        gtk_box_pack_start(GTK_BOX(row), child, FALSE, FALSE, 0);
    }
    gtk_container_add(GTK_CONTAINER(FBar), row);
    gtk_widget_show_all(row);
    // The window's show must not open it.
    gtk_widget_set_no_show_all(FBar, TRUE);
    gtk_overlay_add_overlay(overlay, FBar);

    FSignals.Connect(FEntry, "search-changed", OnSearchChanged, this);
    FSignals.Connect(FEntry, "stop-search", OnStopSearch, this);
    FSignals.Connect(FEntry, "next-match", OnNextMatch, this);
    FSignals.Connect(FEntry, "previous-match", OnPreviousMatch, this);
    FSignals.Connect(FEntry, "key-press-event", OnEntryKey, this);
    FSignals.Connect(FNext, "clicked", OnNextClicked, this);
    FSignals.Connect(FPrevious, "clicked", OnPreviousClicked, this);
    FSignals.Connect(FClose, "clicked", OnCloseClicked, this);
    FSignals.Connect(view, "load-changed", OnLoadChanged, this);
    FSignals.Connect(FFinder, "found-text", OnFoundText, this);
    FSignals.Connect(FFinder, "failed-to-find-text", OnFailedToFind, this);
}

TFindBar::~TFindBar() = default;

bool TFindBar::IsOpen() const { return gtk_widget_get_visible(FBar); }

void TFindBar::Open() {
    const bool wasOpen = IsOpen();
    gtk_widget_show(FBar);
    gtk_widget_grab_focus(FEntry);
    gtk_editable_select_region(GTK_EDITABLE(FEntry), 0, -1);
    // Reopened on the words of the last search: they are found again.
    if (!wasOpen) Search();
}

void TFindBar::Close() {
    if (!IsOpen()) return;
    webkit_find_controller_search_finish(FFinder);
    gtk_widget_hide(FBar);
    gtk_widget_grab_focus(GTK_WIDGET(FView));
}

void TFindBar::Search() {
    const char* text = gtk_entry_get_text(GTK_ENTRY(FEntry));
    gtk_style_context_remove_class(gtk_widget_get_style_context(FEntry), "error");
    if (text == nullptr || *text == '\0') {
        FCounting = false;
        webkit_find_controller_search_finish(FFinder);
        gtk_label_set_text(GTK_LABEL(FCount), "");
        return;
    }
    // The controller counts the matches of a new search (up to the limit),
    // and counting them apart would take the highlights away again.
    FCounting = true;
    webkit_find_controller_search(FFinder, text, kFindOptions, kMaxMatches);
}

void TFindBar::Next(bool backwards) {
    const char* text = gtk_entry_get_text(GTK_ENTRY(FEntry));
    if (text == nullptr || *text == '\0') return;
    // The controller goes on from its last search only while it still has one.
    if (webkit_find_controller_get_search_text(FFinder) == nullptr) {
        Search();
    } else if (backwards) {
        webkit_find_controller_search_previous(FFinder);
    } else {
        webkit_find_controller_search_next(FFinder);
    }
}

void TFindBar::ShowCount(guint matches) {
    std::string text;
    if (matches == 0) {
        text = "No matches";
    } else if (matches == 1) {
        text = "1 match";
    } else if (matches > kMaxMatches) {
        text = "Over " + std::to_string(kMaxMatches) + " matches";
    } else {
        text = std::to_string(matches) + " matches";
    }
    gtk_label_set_text(GTK_LABEL(FCount), text.c_str());
    GtkStyleContext* style = gtk_widget_get_style_context(FEntry);
    if (matches == 0) {
        gtk_style_context_add_class(style, "error");
    } else {
        gtk_style_context_remove_class(style, "error");
    }
}

void TFindBar::OnSearchChanged(GtkSearchEntry*, gpointer self) { static_cast<TFindBar*>(self)->Search(); }

void TFindBar::OnStopSearch(GtkSearchEntry*, gpointer self) { static_cast<TFindBar*>(self)->Close(); }

void TFindBar::OnNextMatch(GtkSearchEntry*, gpointer self) { static_cast<TFindBar*>(self)->Next(false); }

void TFindBar::OnPreviousMatch(GtkSearchEntry*, gpointer self) { static_cast<TFindBar*>(self)->Next(true); }

gboolean TFindBar::OnEntryKey(GtkWidget*, GdkEventKey* event, gpointer self) {
    if (event->keyval != GDK_KEY_Return && event->keyval != GDK_KEY_KP_Enter && event->keyval != GDK_KEY_ISO_Enter) {
        return FALSE;
    }
    const guint modifiers = event->state & gtk_accelerator_get_default_mod_mask();
    if (modifiers != 0 && modifiers != GDK_SHIFT_MASK) return FALSE;
    static_cast<TFindBar*>(self)->Next(modifiers == GDK_SHIFT_MASK);
    return TRUE;
}

void TFindBar::OnNextClicked(GtkButton*, gpointer self) { static_cast<TFindBar*>(self)->Next(false); }

void TFindBar::OnPreviousClicked(GtkButton*, gpointer self) { static_cast<TFindBar*>(self)->Next(true); }

void TFindBar::OnCloseClicked(GtkButton*, gpointer self) { static_cast<TFindBar*>(self)->Close(); }

void TFindBar::OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer self) {
    // A new page: the count and the highlights are those of its own text.
    auto* bar = static_cast<TFindBar*>(self);
    if (event == WEBKIT_LOAD_FINISHED && bar->IsOpen()) bar->Search();
}

void TFindBar::OnFoundText(WebKitFindController*, guint matches, gpointer self) {
    auto* bar = static_cast<TFindBar*>(self);
    // Only a new search counts them all; next and previous report one.
    if (!bar->FCounting) return;
    bar->FCounting = false;
    if (bar->IsOpen()) bar->ShowCount(matches);
}

void TFindBar::OnFailedToFind(WebKitFindController*, gpointer self) {
    auto* bar = static_cast<TFindBar*>(self);
    bar->FCounting = false;
    if (bar->IsOpen()) bar->ShowCount(0);
}

}  // namespace quorvel::gtk
