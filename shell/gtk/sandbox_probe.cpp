#include "shell/gtk/sandbox_probe.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "shell/gtk/glib_ptr.h"

namespace quorvel::gtk {
namespace {

// Where WebKit looks for its sandbox's helpers (paths built into Debian's
// WebKitGTK).
constexpr const char* kBubblewrap = "/usr/bin/bwrap";
constexpr const char* kDBusProxy = "/usr/bin/xdg-dbus-proxy";

// bubblewrap answers in milliseconds; one that has not after this is stuck,
// and the start does not wait for it any longer.
constexpr gint64 kProbeBound = 3 * G_USEC_PER_SEC;

}  // namespace

std::string BusSocketInRoot(const std::string& address) {
    const TGStrvPtr entries{g_strsplit(address.c_str(), ";", -1)};
    for (gchar** entry = entries.get(); *entry != nullptr; ++entry) {
        if (!g_str_has_prefix(*entry, "unix:")) continue;
        const TGStrvPtr pairs{g_strsplit(*entry + 5, ",", -1)};
        for (gchar** pair = pairs.get(); *pair != nullptr; ++pair) {
            if (!g_str_has_prefix(*pair, "path=")) continue;
            const TGCharPtr path{g_uri_unescape_string(*pair + 5, nullptr)};
            if (!path) continue;
            const TGCharPtr folder{g_path_get_dirname(path.get())};
            if (std::string(folder.get()) == "/") return path.get();
        }
    }
    return std::string();
}

TSandboxProbe& TSandboxProbe::Instance() {
    static TSandboxProbe probe;
    return probe;
}

TSandboxProbe::~TSandboxProbe() {
    // A probe nobody waited for is not left as a zombie.
    if (FChild > 0) Collect();
}

void TSandboxProbe::Start() {
    if (FStarted) return;
    FStarted = true;
    const gchar* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
    const std::string rootSocket = address != nullptr ? BusSocketInRoot(address) : std::string();
    if (!rootSocket.empty()) {
        FReason = "the session bus socket " + rootSocket + " is directly in /";
    } else if (!g_file_test(kBubblewrap, G_FILE_TEST_IS_EXECUTABLE)) {
        FReason = std::string(kBubblewrap) + " is missing";
    } else if (!g_file_test(kDBusProxy, G_FILE_TEST_IS_EXECUTABLE)) {
        FReason = std::string(kDBusProxy) + " is missing";
    } else {
        const gchar* argv[] = {kBubblewrap,     "--ro-bind",     "/",  "/",         "--unshare-pid",
                               "--unshare-ipc", "--unshare-net", "--unshare-uts", "--", "/bin/true",
                               nullptr};
        GError* error = nullptr;
        if (!g_spawn_async_with_pipes(nullptr, const_cast<gchar**>(argv), nullptr,
                                      static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_STDOUT_TO_DEV_NULL),
                                      nullptr, nullptr, &FChild, nullptr, nullptr, &FErrors, &error)) {
            FChild = 0;
            FReason = error->message;
            g_error_free(error);
        }
    }
}

bool TSandboxProbe::CanRun() {
    if (FCanRun.has_value()) return *FCanRun;
    Start();
    if (FChild > 0) Collect();
    FCanRun = FReason.empty();
    if (!*FCanRun) std::fprintf(stderr, "quorvel: web content runs without a sandbox: %s\n", FReason.c_str());
    return *FCanRun;
}

// Waits for bubblewrap, within the bound; what it says first is why it failed.
void TSandboxProbe::Collect() {
    const gint64 deadline = g_get_monotonic_time() + kProbeBound;
    std::string said;
    char buffer[512];
    for (;;) {
        const gint64 left = deadline - g_get_monotonic_time();
        pollfd errors{FErrors, POLLIN, 0};
        const int ready = left > 0 ? poll(&errors, 1, static_cast<int>(left / 1000) + 1) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) break;
        const ssize_t got = read(FErrors, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        said.append(buffer, static_cast<std::size_t>(got));
    }
    close(FErrors);
    FErrors = -1;
    int status = 0;
    pid_t ended = 0;
    while ((ended = waitpid(FChild, &status, WNOHANG)) == 0 && g_get_monotonic_time() < deadline) g_usleep(1000);
    const bool overran = ended == 0;
    if (overran) {
        kill(FChild, SIGKILL);
        while (waitpid(FChild, &status, 0) < 0 && errno == EINTR) {
        }
    }
    g_spawn_close_pid(FChild);
    FChild = 0;
    if (overran) {
        FReason = "bubblewrap did not finish within " + std::to_string(kProbeBound / G_USEC_PER_SEC) + " s";
    } else if (ended < 0 || !g_spawn_check_wait_status(status, nullptr)) {
        FReason = said.substr(0, said.find('\n'));
        if (FReason.empty()) FReason = "bubblewrap failed";
    }
}

}  // namespace quorvel::gtk
