// A message dialog that does not hold up the caller: shown, and gone at its
// response. At most one at a time per owner, so a page cannot pile them up.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

class TNotice {
public:
    TNotice() = default;
    ~TNotice() { Dismiss(); }
    TNotice(const TNotice&) = delete;
    TNotice& operator=(const TNotice&) = delete;

    // Replaces the notice on screen, if any. parent may be null.
    void Show(GtkWindow* parent, const std::string& title, const std::string& text, const std::string& detail);
    void Dismiss();

private:
    static void OnResponse(GtkDialog* dialog, gint response, gpointer self);

    TToplevelPtr FDialog;
    TSignalConnection FResponse;
};

}  // namespace quorvel::gtk
