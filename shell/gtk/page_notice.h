// A notice laid over the top of one window's page, as the find bar is: a line
// of text and its buttons, the first of them the default (it takes the
// focus, so Enter answers it), for what a page's window tells or asks the
// user without a second window.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>
#include <vector>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

class TPageNotice {
public:
    struct TButton {
        std::string Label;  // with its mnemonic
        std::function<void()> Action;
    };

    // The notice becomes an overlay child of overlay, hidden; focusBack takes
    // the focus when it goes.
    TPageNotice(GtkOverlay* overlay, GtkWidget* focusBack);
    ~TPageNotice();
    TPageNotice(const TPageNotice&) = delete;
    TPageNotice& operator=(const TPageNotice&) = delete;

    // Replaces what is shown, if anything.
    void Show(const std::string& text, std::vector<TButton> buttons);
    void Hide();
    bool IsShown() const { return gtk_widget_get_visible(FBar); }

private:
    static void OnClicked(GtkButton* button, gpointer self);

    GtkWidget* FBar;                // owned by the overlay
    GtkWidget* FLabel = nullptr;    // owned by the bar
    GtkWidget* FButtons = nullptr;  // likewise
    GtkWidget* FFocusBack;
    std::vector<TButton> FActions;
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
