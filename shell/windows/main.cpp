// The Windows shell's entry: the application object's platform part, then
// the start-up order. The program takes no arguments.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <exception>
#include <string>

#include "http/windows/windows_text.h"
#include "report/device_code.h"
#include "report/http_get_ok.h"
#include "report/install_marker.h"
#include "shell/application.h"
#include "shell/build_values.h"
#include "shell/windows/win32_platform.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    try {
        quorvel::win::TWin32Platform platform(instance);
        quorvel::TShellServices services;
        services.Folders = &quorvel::PlatformFolders();
        services.MakeDeviceCode = [] { return quorvel::MakeDeviceCode(); };
        services.HttpGetOk = [](const std::string& url) { return quorvel::HttpGetOk(url); };
        return quorvel::RunShell(platform, quorvel::ThisBuildValues(), services);
    } catch (const std::exception& error) {
        // Only a failure to make the windows themselves ends up here.
        ::MessageBoxW(nullptr, quorvel::Wide(error.what()).c_str(), L"Quorvel", MB_ICONERROR);
        return 1;
    }
}
