// Linked into the scenario build of the Windows shell only: a message from
// the probe makes the real control navigate to a close-marker URL, so the
// control's own BeforeNavigate2 reaches the guard as a page's would.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "shell/application.h"

namespace {

const UINT kNavigateMessage = ::RegisterWindowMessageW(L"QuorvelTestNavigate");

LRESULT CALLBACK OnMessage(int code, WPARAM wParam, LPARAM lParam) {
    auto* message = reinterpret_cast<MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && message->message == kNavigateMessage) {
        message->message = WM_NULL;
        if (quorvel::WebBrowser != nullptr) {
            try {
                quorvel::WebBrowser->Navigate(QUORVEL_WINE_CLOSE_URL);
            } catch (...) {
                if (quorvel::Application != nullptr) quorvel::Application->HandleException();
            }
        }
    }
    return ::CallNextHookEx(nullptr, code, wParam, lParam);
}

// Installed before WinMain runs, on the thread that runs the shell.
[[maybe_unused]] const HHOOK kHook = ::SetWindowsHookExW(WH_GETMESSAGE, &OnMessage, nullptr, ::GetCurrentThreadId());

}  // namespace
