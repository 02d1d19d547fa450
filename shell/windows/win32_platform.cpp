#include "shell/windows/win32_platform.h"

#include <cstdlib>
#include <stdexcept>

#include "http/windows/system_error_text.h"
#include "http/windows/windows_text.h"
#include "shell/application.h"

namespace quorvel::win {

namespace {

constexpr DWORD kModulePathUnits = 261;
constexpr UINT kMouseFirst = 0x0200;
constexpr UINT kMouseLast = 0x020E;
constexpr UINT kKeyFirst = 0x0100;
constexpr UINT kKeyLast = 0x0109;

[[noreturn]] void RaiseLastError(const char* what) {
    throw std::runtime_error(std::string(what) + ": " + SystemErrorText(::GetLastError()));
}

void Register(HINSTANCE instance, const wchar_t* name, UINT style, WNDPROC procedure) {
    WNDCLASSW c{};
    c.style = style;
    c.lpfnWndProc = procedure;
    c.hInstance = instance;
    c.hCursor = ::LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
    c.lpszClassName = name;
    if (::RegisterClassW(&c) == 0 && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS) RaiseLastError("RegisterClass");
}

// The platform object reached from a window procedure.
template <typename T>
T* Owner(HWND window, UINT message, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* owner = static_cast<T*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(owner));
        return owner;
    }
    return reinterpret_cast<T*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
}

// An error must not unwind through the system's frames: it is shown here.
void ShowEscapedError() {
    if (Application != nullptr) Application->HandleException();
}

}  // namespace

TWin32Platform::TWin32Platform(HINSTANCE instance) : FInstance(instance) {
    FOle.emplace();
    Register(FInstance, kApplicationWindowClass, 0, &ApplicationWindowProc);
    // Never shown; it receives the platform's close and log-off notices.
    FApplicationWindow = TUniqueWindow(::CreateWindowExW(0, kApplicationWindowClass, L"",
                                                         WS_POPUP | WS_CLIPSIBLINGS, 0, 0, 0, 0, nullptr, nullptr,
                                                         FInstance, this));
    if (FApplicationWindow.Get() == nullptr) RaiseLastError("CreateWindowEx");
    FCom.emplace();
    HWND hidden = FApplicationWindow.Get();
    ::SetWindowLongPtrW(hidden, GWL_EXSTYLE, ::GetWindowLongPtrW(hidden, GWL_EXSTYLE) | WS_EX_TOOLWINDOW);
    ::SetWindowTextW(hidden, L"");
    Register(FInstance, kMainWindowClass, CS_DBLCLKS, &MainWindowProc);
}

TWin32Platform::~TWin32Platform() {
    FSite.reset();
    FMainWindow.Reset();
    FApplicationWindow.Reset();
}

std::string TWin32Platform::ExecutablePath() {
    wchar_t path[kModulePathUnits] = {};
    const DWORD length = ::GetModuleFileNameW(nullptr, path, kModulePathUnits);
    return Narrow(std::wstring_view(path, length < kModulePathUnits ? length : kModulePathUnits));
}

std::optional<int> TWin32Platform::StartupShowValue() {
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    ::GetStartupInfoW(&startup);
    if ((startup.dwFlags & STARTF_USESHOWWINDOW) == 0) return std::nullopt;
    return startup.wShowWindow;
}

int TWin32Platform::PixelsPerInch() {
    TScreenDC screen(::GetDC(nullptr));
    return ::GetDeviceCaps(screen.Get(), LOGPIXELSY);
}

int TWin32Platform::MeasureTextHeight(int fontHeight) {
    TScreenDC screen(::GetDC(nullptr));
    TSelectedFont font(screen.Get(), ::CreateFontW(fontHeight, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                                                   DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                                   DEFAULT_QUALITY, DEFAULT_PITCH, L"Tahoma"));
    SIZE size{};
    if (!font.Valid() || !::GetTextExtentPoint32W(screen.Get(), L"0", 1, &size)) return 0;
    return size.cy;
}

TRect TWin32Platform::PrimaryWorkArea() {
    RECT area{};
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
    return TRect{area.left, area.top, area.right, area.bottom};
}

TPoint TWin32Platform::VirtualDesktopOrigin() {
    return TPoint{::GetSystemMetrics(SM_XVIRTUALSCREEN), ::GetSystemMetrics(SM_YVIRTUALSCREEN)};
}

void TWin32Platform::CreateMainWindow(int clientWidth, int clientHeight) {
    // No frame: the outer size is the client size. Hidden until the show.
    FMainWindow = TUniqueWindow(::CreateWindowExW(kMainWindowExStyle, kMainWindowClass, L"", kMainWindowStyle, 0, 0,
                                                  clientWidth, clientHeight, nullptr, nullptr, FInstance, this));
    if (FMainWindow.Get() == nullptr) RaiseLastError("CreateWindowEx");
    HICON icon = ::LoadIconW(FInstance, L"MAINICON");
    if (icon != nullptr) ::SendMessageW(FMainWindow.Get(), WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
}

void TWin32Platform::HideMainWindow() {
    if (FMainWindow.Get() != nullptr) ::ShowWindow(FMainWindow.Get(), SW_HIDE);
}

void TWin32Platform::ShowMainWindow(TPoint position, TShowState state) {
    HWND window = FMainWindow.Get();
    if (window == nullptr) throw std::logic_error("The main window does not exist");
    // The main window exists: the hidden window is never activated again.
    HWND hidden = FApplicationWindow.Get();
    ::SetWindowLongPtrW(hidden, GWL_EXSTYLE, ::GetWindowLongPtrW(hidden, GWL_EXSTYLE) | WS_EX_NOACTIVATE);
    ::SetWindowPos(window, nullptr, position.X, position.Y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    // The normal command activates: the activation handler runs inside it.
    ::ShowWindow(window, ShowCommand(state));
}

void TWin32Platform::DestroyMainWindow() {
    HWND window = FMainWindow.Get();
    if (window != nullptr) ::ShowWindow(window, SW_HIDE);
    // Takes the control's window with it; then the control is closed and released.
    FMainWindow.Reset();
    FSite.reset();
}

void TWin32Platform::CreateBrowser() {
    if (FMainWindow.Get() == nullptr) throw std::logic_error("The main window does not exist");
    FSite = std::make_unique<TOleControlSite>(PixelsPerInch());
    FSite->SetOnBeforeNavigate2(FBeforeNavigate);
    FSite->Attach(FMainWindow.Get());
}

void TWin32Platform::SetBrowserBounds(int left, int top, int width, int height) {
    if (FSite) FSite->SetBounds(left, top, width, height);
}

void TWin32Platform::BindBeforeNavigate(TBeforeNavigateHandler handler) {
    FBeforeNavigate = std::move(handler);
    if (FSite) FSite->SetOnBeforeNavigate2(FBeforeNavigate);
}

void TWin32Platform::Navigate(const std::string& url) {
    if (!FSite) throw std::logic_error("The browser does not exist");
    FSite->Navigate(url);
}

bool TWin32Platform::ProcessMessage() {
    MSG message{};
    if (!::PeekMessageW(&message, nullptr, kMouseFirst, kMouseLast, PM_NOREMOVE) &&
        !::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE))
        return false;
    const bool unicode = message.hwnd == nullptr || ::IsWindowUnicode(message.hwnd);
    const UINT code = message.message;
    const BOOL taken = unicode ? ::PeekMessageW(&message, nullptr, code, code, PM_REMOVE)
                               : ::PeekMessageA(&message, nullptr, code, code, PM_REMOVE);
    if (!taken) return true;
    if (message.message == WM_QUIT) {
        if (FEvents != nullptr) FEvents->OnQuitMessage();
        return true;
    }
    if (message.message >= kKeyFirst && message.message <= kKeyLast && OfferKey(message)) return true;
    ::TranslateMessage(&message);
    if (unicode)
        ::DispatchMessageW(&message);
    else
        ::DispatchMessageA(&message);
    return true;
}

void TWin32Platform::HandleMessage() {
    if (!ProcessMessage()) ::WaitMessage();
}

void TWin32Platform::ProcessPendingMessages() {
    while (ProcessMessage()) {
    }
}

// The nearest of the program's own windows on the target's parent chain
// decides: the browser's window offers the key to the control; the main
// window has no shortcuts of its own.
bool TWin32Platform::OfferKey(const MSG& message) {
    const HWND control = FSite ? FSite->ControlWindow() : nullptr;
    for (HWND window = message.hwnd; window != nullptr; window = ::GetParent(window)) {
        if (control != nullptr && window == control) return FSite->TranslateKey(message);
        if (window == FMainWindow.Get()) return false;
    }
    return false;
}

void TWin32Platform::ShowErrorBox(const std::string& title, const std::string& text) {
    if (FSessionEnded) return;
    HWND owner = FMainWindow.Get() != nullptr && ::IsWindowVisible(FMainWindow.Get()) ? FMainWindow.Get() : nullptr;
    ::MessageBoxW(owner, Wide(text).c_str(), Wide(title).c_str(), MB_ICONERROR);
}

// The end is confirmed: the exit sequence runs here and now, whatever the
// message interrupted (the loop, the start-up pump, an error box), since
// Windows may end the process as soon as this message returns.
void TWin32Platform::EndSession() {
    FSessionEnded = true;
    if (FEvents != nullptr) {
        FEvents->OnEndSession();
        FEvents->OnExitNow();
    }
    // What the program did not take down itself (a window still being made),
    // then the platform's own part, in the start-up order reversed.
    DestroyMainWindow();
    FApplicationWindow.Reset();
    FCom.reset();
    FOle.reset();
    std::exit(0);
}

LRESULT TWin32Platform::MainWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    HWND window = FMainWindow.Get();
    switch (message) {
        case WM_SETFOCUS:
            if (FEvents != nullptr) FEvents->OnActivate();
            return 0;
        case WM_CLOSE:
            // The close rule decides; the window is never destroyed here.
            if (FEvents != nullptr) FEvents->OnCloseRequest();
            return 0;
        case WM_QUERYENDSESSION: return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) EndSession();
            return 0;
        case WM_ERASEBKGND: {
            RECT area{};
            ::GetClientRect(window, &area);
            ::FillRect(reinterpret_cast<HDC>(wParam), &area, ::GetSysColorBrush(COLOR_BTNFACE));
            return 1;
        }
        default: return ::DefWindowProcW(window, message, wParam, lParam);
    }
}

LRESULT TWin32Platform::ApplicationWindowMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CLOSE:
            if (FEvents != nullptr) FEvents->OnCloseRequest();
            return 0;
        case WM_QUERYENDSESSION: return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) EndSession();
            return 0;
        default: return ::DefWindowProcW(FApplicationWindow.Get(), message, wParam, lParam);
    }
}

LRESULT CALLBACK TWin32Platform::MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* platform = Owner<TWin32Platform>(window, message, lParam);
    if (platform == nullptr || platform->FMainWindow.Get() != window)
        return ::DefWindowProcW(window, message, wParam, lParam);
    try {
        return platform->MainWindowMessage(message, wParam, lParam);
    } catch (...) {
        ShowEscapedError();
        return 0;
    }
}

LRESULT CALLBACK TWin32Platform::ApplicationWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* platform = Owner<TWin32Platform>(window, message, lParam);
    if (platform == nullptr || platform->FApplicationWindow.Get() != window)
        return ::DefWindowProcW(window, message, wParam, lParam);
    try {
        return platform->ApplicationWindowMessage(message, wParam, lParam);
    } catch (...) {
        ShowEscapedError();
        return 0;
    }
}

}  // namespace quorvel::win
