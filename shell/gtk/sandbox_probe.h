// Whether WebKit's web process sandbox can run here. WebKit ends the whole
// program when its sandbox cannot start, so bubblewrap is tried once, with
// the namespaces WebKit asks for, before the sandbox is switched on. Where it
// cannot run, the mail is still shown, unconfined, and the user is told once.
#pragma once

#include <glib.h>

#include <optional>
#include <string>

namespace quorvel::gtk {

// WebKit runs its D-Bus proxy in bubblewrap with the folder of the session
// bus socket bound in, and puts /.flatpak-info at that sandbox's root. With
// the socket directly in "/" that root is the host's: as root bubblewrap
// leaves the file there for good (GLib then takes every program for a
// Flatpak one); as anyone else it fails. Returns the path of such a socket
// named in a D-Bus address, or empty.
std::string BusSocketInRoot(const std::string& address);

class TSandboxProbe {
public:
    static TSandboxProbe& Instance();

    TSandboxProbe(const TSandboxProbe&) = delete;
    TSandboxProbe& operator=(const TSandboxProbe&) = delete;
    ~TSandboxProbe();

    // Starts the try; it runs while the window and the browser's context are
    // made, which take longer.
    void Start();
    // Waits for the try; on the first call where the answer is no, says why
    // on standard error.
    bool CanRun();

private:
    TSandboxProbe() = default;
    void Collect();

    bool FStarted = false;
    GPid FChild = 0;
    int FErrors = -1;  // bubblewrap's standard error, read by Collect
    std::string FReason;
    std::optional<bool> FCanRun;
};

}  // namespace quorvel::gtk
