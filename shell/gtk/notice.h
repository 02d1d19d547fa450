// Message dialogs: one builder for all of them, the shell's notices and
// questions, which do not hold up their caller, and the end of the session's
// answer to the dialogs that do.
#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "shell/gtk/gobject_ptr.h"

namespace quorvel::gtk {

// A modal message dialog on parent (which may be null) with the icon of its
// type before the text, since GTK 3 message dialogs show none of their own;
// the caller adds the buttons.
TToplevelPtr NewMessageDialog(GtkWindow* parent, GtkMessageType type, const std::string& title,
                              const std::string& text, const std::string& detail);

// Answers Cancel to every message and print dialog still open: GTK runs those
// of the file chooser and of WebKit's print() in loops of their own, which
// would hold off the end of the session until someone answered them.
void CancelOpenDialogs();

// A notice of what went wrong: shown, and gone at its answer. At most one at
// a time per owner, so a page cannot pile them up.
class TNotice {
public:
    TNotice() = default;
    ~TNotice() = default;
    TNotice(const TNotice&) = delete;
    TNotice& operator=(const TNotice&) = delete;

    // Replaces the notice on screen, if any. parent may be null.
    void Show(GtkWindow* parent, const std::string& title, const std::string& text, const std::string& detail);
    void Dismiss();

private:
    static void OnResponse(GtkDialog* dialog, gint response, gpointer self);

    TToplevelPtr FDialog;
    TSignalGroup FSignals;  // last: dropped first
};

// A yes-or-no question whose answer comes later. Cancel is the default and
// Escape's; a question asked while another is open answers that one no.
class TQuestion {
public:
    // parent: the window the question was on, or null when it is gone.
    using TAnswer = std::function<void(bool yes, GtkWindow* parent)>;

    TQuestion() = default;
    ~TQuestion() = default;
    TQuestion(const TQuestion&) = delete;
    TQuestion& operator=(const TQuestion&) = delete;

    // yesLabel: the other button's label, with its mnemonic.
    void Ask(GtkWindow* parent, const std::string& title, const std::string& text, const std::string& detail,
             const std::string& yesLabel, TAnswer answer);
    bool IsOpen() const { return static_cast<bool>(FDialog); }

private:
    static void OnResponse(GtkDialog* dialog, gint response, gpointer self);
    void Answer(bool yes);

    TToplevelPtr FDialog;
    TAnswer FAnswer;
    TSignalGroup FSignals;  // last: dropped first
};

}  // namespace quorvel::gtk
