// The Linux platform layer on a display of its own (the tests run under
// xvfb-run), each case in a child process, as the program runs.
#include "shell/gtk/gtk_platform.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

namespace quorvel::gtk {
namespace {

class TQuitRecorder final : public IShellEvents {
public:
    void OnActivate() override {}
    void OnCloseRequest() override {}
    void OnEndSession() override {}
    void OnExitNow() override {}
    void OnQuitMessage() override { Quit = true; }
    bool Quit = false;
};

bool MessageDialogOpen() {
    GList* windows = gtk_window_list_toplevels();
    bool open = false;
    for (GList* item = windows; item != nullptr; item = item->next) {
        open = open || (GTK_IS_MESSAGE_DIALOG(item->data) && gtk_widget_get_visible(GTK_WIDGET(item->data)));
    }
    g_list_free(windows);
    return open;
}

// A quit posted while the error box is open (a close-marker navigation, a
// close request) ends the box as a message box's own loop ends on the quit
// message, and the program then ends.
void QuitDuringTheErrorBox() {
    // The box would otherwise wait for a click for ever: the bound fails it.
    alarm(5);
    TSignalWatch signals;
    if (!gtk_init_check(nullptr, nullptr)) std::_Exit(3);
    TQuitRecorder events;
    TGtkPlatform platform(signals, "127.0.0.1:9");
    platform.SetEvents(&events);
    bool shown = false;
    struct TStep {
        TGtkPlatform& Platform;
        bool& Shown;
    } step{platform, shown};
    g_timeout_add(200, [](gpointer data) -> gboolean {
        auto* s = static_cast<TStep*>(data);
        s->Shown = MessageDialogOpen();
        s->Platform.PostQuit();
        return G_SOURCE_REMOVE;
    }, &step);
    platform.ShowErrorBox("Quorvel", "Something failed.");
    if (!shown || MessageDialogOpen()) std::_Exit(4);
    platform.HandleMessage();
    std::_Exit(events.Quit ? 0 : 5);
}

TEST(GtkPlatform, AQuitPostedDuringTheErrorBoxEndsTheBoxAndTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(QuitDuringTheErrorBox(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace quorvel::gtk
