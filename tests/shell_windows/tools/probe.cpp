// quorvel-probe: looks at and talks to a running Windows shell for the
// scenario tests. Commands (each bounded in time):
//   window      waits for the visible main window, prints its facts
//   errorbox    waits for an error box, prints its text, then presses OK
//   close       posts WM_CLOSE to the main window
//   endsession  sends WM_QUERYENDSESSION, then WM_ENDSESSION (TRUE), and
//               prints which windows are left when that returns
//   navigate    asks the test build to navigate to a close-marker URL
//   appdata     prints the local application-data folder
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <shlobj.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "http/windows/windows_text.h"

namespace {

using quorvel::Narrow;

constexpr DWORD kWaitMs = 60000;

template <typename Find>
HWND WaitFor(Find find) {
    const DWORD start = ::GetTickCount();
    while (::GetTickCount() - start < kWaitMs) {
        if (HWND w = find()) return w;
        ::Sleep(100);
    }
    return nullptr;
}

HWND MainWindow() {
    HWND w = ::FindWindowW(L"TForm1", nullptr);
    return w != nullptr && ::IsWindowVisible(w) ? w : nullptr;
}

struct TDialogSearch {
    HWND Found = nullptr;
};

BOOL CALLBACK FindDialog(HWND w, LPARAM lParam) {
    wchar_t name[32] = {};
    ::GetClassNameW(w, name, 32);
    if (std::wcscmp(name, L"#32770") == 0 && ::IsWindowVisible(w)) {
        reinterpret_cast<TDialogSearch*>(lParam)->Found = w;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK PrintStatic(HWND w, LPARAM) {
    wchar_t name[32] = {};
    ::GetClassNameW(w, name, 32);
    if (std::wcscmp(name, L"Static") == 0) {
        wchar_t text[2048] = {};
        ::GetWindowTextW(w, text, 2048);
        if (text[0] != L'\0') std::printf("text=%s\n", Narrow(text).c_str());
    }
    return TRUE;
}

int Window() {
    HWND w = WaitFor(MainWindow);
    if (w == nullptr) {
        std::printf("error=no visible TForm1 window\n");
        return 1;
    }
    RECT r{}, client{}, area{};
    ::GetWindowRect(w, &r);
    ::GetClientRect(w, &client);
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    wchar_t caption[256] = {};
    ::GetWindowTextW(w, caption, 256);
    std::printf("style=%lu\nexstyle=%lu\n", static_cast<unsigned long>(::GetWindowLongW(w, GWL_STYLE)),
                static_cast<unsigned long>(::GetWindowLongW(w, GWL_EXSTYLE)));
    std::printf("rect=%ld,%ld,%ld,%ld\nclient=%ld,%ld\n", r.left, r.top, r.right, r.bottom, client.right,
                client.bottom);
    std::printf("workarea=%ld,%ld,%ld,%ld\n", area.left, area.top, area.right, area.bottom);
    std::printf("owner=%d\ncaption=%s\n", ::GetWindow(w, GW_OWNER) != nullptr ? 1 : 0, Narrow(caption).c_str());
    return 0;
}

int ErrorBox() {
    HWND box = WaitFor([] {
        TDialogSearch search;
        ::EnumWindows(&FindDialog, reinterpret_cast<LPARAM>(&search));
        return search.Found;
    });
    if (box == nullptr) {
        std::printf("error=no error box\n");
        return 1;
    }
    wchar_t title[256] = {};
    ::GetWindowTextW(box, title, 256);
    std::printf("title=%s\n", Narrow(title).c_str());
    ::EnumChildWindows(box, &PrintStatic, 0);
    std::fflush(stdout);
    ::PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
}

int Send(const char* what) {
    HWND w = WaitFor(MainWindow);
    if (w == nullptr) {
        std::printf("error=no visible TForm1 window\n");
        return 1;
    }
    if (std::strcmp(what, "close") == 0) {
        ::PostMessageW(w, WM_CLOSE, 0, 0);
    } else if (std::strcmp(what, "endsession") == 0) {
        DWORD_PTR answer = 0;
        ::SendMessageTimeoutW(w, WM_QUERYENDSESSION, 0, 0, SMTO_NORMAL, 10000, &answer);
        std::printf("queryendsession=%lu\n", static_cast<unsigned long>(answer));
        std::fflush(stdout);
        const HWND control = ::GetWindow(w, GW_CHILD);
        const HWND hidden = ::FindWindowW(L"TApplication", nullptr);
        std::printf("control=%d\nhidden=%d\n", control != nullptr ? 1 : 0, hidden != nullptr ? 1 : 0);
        const DWORD start = ::GetTickCount();
        ::SendMessageTimeoutW(w, WM_ENDSESSION, TRUE, 0, SMTO_NORMAL, 10000, &answer);
        // Looked at the moment the message returns: nothing of the exit
        // sequence may be left for later.
        const int windowLeft = ::IsWindow(w) ? 1 : 0;
        const int controlLeft = control != nullptr && ::IsWindow(control) ? 1 : 0;
        const int hiddenLeft = hidden != nullptr && ::IsWindow(hidden) ? 1 : 0;
        std::printf("window_left=%d\ncontrol_left=%d\nhidden_left=%d\nreturned_ms=%lu\n", windowLeft, controlLeft,
                    hiddenLeft, static_cast<unsigned long>(::GetTickCount() - start));
    } else {
        ::PostMessageW(w, ::RegisterWindowMessageW(L"QuorvelTestNavigate"), 0, 0);
    }
    return 0;
}

int AppData() {
    wchar_t path[MAX_PATH + 1] = {};
    if (FAILED(::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path))) return 1;
    std::printf("appdata=%s\n", Narrow(path).c_str());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string command = argc > 1 ? argv[1] : "";
    int status = 2;
    if (command == "window") status = Window();
    if (command == "errorbox") status = ErrorBox();
    if (command == "close" || command == "endsession" || command == "navigate") status = Send(command.c_str());
    if (command == "appdata") status = AppData();
    std::fflush(stdout);
    return status;
}
