// Whether WebKit's web process sandbox can run here. WebKit ends the whole
// program when its sandbox cannot start, so bubblewrap is tried once, with
// the namespaces WebKit asks for, before the sandbox is switched on. Where it
// cannot run, the mail is still shown, unconfined, and the user is told once.
#pragma once

#include <glib.h>

#include <optional>
#include <string>

namespace quorvel::gtk {

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
