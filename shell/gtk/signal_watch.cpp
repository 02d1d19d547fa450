#include "shell/gtk/signal_watch.h"

#include <glib-unix.h>
#include <signal.h>

namespace quorvel::gtk {

TSignalWatch::TSignalWatch() {
    for (int signum : {SIGTERM, SIGHUP, SIGINT}) FSources.push_back(g_unix_signal_add(signum, OnSignal, this));
}

TSignalWatch::~TSignalWatch() {
    for (guint id : FSources) g_source_remove(id);
}

void TSignalWatch::SetTarget(std::function<void()> target) { FTarget = std::move(target); }

bool TSignalWatch::TakePending() {
    const bool pending = FPending;
    FPending = false;
    return pending;
}

gboolean TSignalWatch::OnSignal(gpointer self) {
    auto* watch = static_cast<TSignalWatch*>(self);
    if (watch->FTarget) {
        watch->FTarget();
    } else {
        watch->FPending = true;
    }
    return G_SOURCE_CONTINUE;
}

}  // namespace quorvel::gtk
