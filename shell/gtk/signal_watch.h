// SIGTERM, SIGHUP and SIGINT as GLib sources: they stand for the confirmed
// log-off. Created first thing in main, so that a signal from then on is
// dispatched by the next iteration of the default context (the start-up pump
// included) instead of killing the process.
#pragma once

#include <glib.h>

#include <functional>
#include <vector>

namespace quorvel::gtk {

class TSignalWatch {
public:
    TSignalWatch();
    ~TSignalWatch();
    TSignalWatch(const TSignalWatch&) = delete;
    TSignalWatch& operator=(const TSignalWatch&) = delete;

    // Called for each signal from now on; a signal dispatched before a target
    // was set is kept and reported by TakePending.
    void SetTarget(std::function<void()> target);
    bool TakePending();

private:
    static gboolean OnSignal(gpointer self);

    std::vector<guint> FSources;
    std::function<void()> FTarget;
    bool FPending = false;
};

}  // namespace quorvel::gtk
