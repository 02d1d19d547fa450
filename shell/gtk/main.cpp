// The Linux shell's entry: signals first, then GTK, then the start-up order.
#include <gtk/gtk.h>

#include <cstdio>
#include <exception>

#include "report/device_code.h"
#include "report/http_get_ok.h"
#include "report/install_marker.h"
#include "shell/application.h"
#include "shell/build_values.h"
#include "shell/gtk/gtk_platform.h"
#include "shell/gtk/signal_watch.h"
#include "shell/gtk/web_context.h"

int main() {
    // Before anything else: from here on a SIGTERM is an end of session, even
    // while the start-up pump runs and no main loop does.
    quorvel::gtk::TSignalWatch signals;
    // The .desktop entry and the window manager know the program by this name,
    // whatever the executable's tagged file name.
    g_set_prgname("quorvel");
    quorvel::gtk::TWebContext::PrepareProcess();
    if (!gtk_init_check(nullptr, nullptr)) {
        std::fprintf(stderr, "quorvel: cannot open the display\n");
        return 1;
    }
    try {
        const quorvel::TBuildValues build = quorvel::ThisBuildValues();
        quorvel::gtk::TGtkPlatform platform(signals, build.StartPageHost);
        quorvel::TShellServices services;
        services.Folders = &quorvel::PlatformFolders();
        services.MakeDeviceCode = [] { return quorvel::MakeDeviceCode(); };
        services.HttpGetOk = [](const std::string& url) { return quorvel::HttpGetOk(url); };
        return quorvel::RunShell(platform, build, services);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "quorvel: %s\n", error.what());
        return 1;
    }
}
