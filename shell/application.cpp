#include "shell/application.h"

#include <utility>

#include "http/exceptions.h"
#include "shell/navigation.h"
#include "shell/source_tag.h"
#include "shell/window_rules.h"

namespace quorvel {

std::string SourceTag;
std::string SoftId;
TForm1* Form1 = nullptr;
TWebBrowser* WebBrowser = nullptr;
TApplication* Application = nullptr;

namespace {
constexpr int kStartUpPumpRounds = 51;
}  // namespace

// --- browser host ---------------------------------------------------------

TWebBrowser::TWebBrowser(IPlatform& platform) : FPlatform(platform) { FPlatform.CreateBrowser(); }

TWebBrowser::~TWebBrowser() { FPlatform.BindBeforeNavigate(nullptr); }

void TWebBrowser::SetBounds(int left, int top, int width, int height) {
    FPlatform.SetBrowserBounds(left, top, width, height);
}

void TWebBrowser::Navigate(const std::string& url) { FPlatform.Navigate(url); }

void TWebBrowser::SetOnBeforeNavigate2(TBeforeNavigate2Event handler) {
    FOnBeforeNavigate2 = std::move(handler);
    if (!FOnBeforeNavigate2) {
        FPlatform.BindBeforeNavigate(nullptr);
        return;
    }
    FPlatform.BindBeforeNavigate(
        [this](const std::string& url, std::int16_t& cancel) { BeforeNavigate2(url, cancel); });
}

void TWebBrowser::BeforeNavigate2(const std::string& url, std::int16_t& cancel) {
    if (!FOnBeforeNavigate2) return;
    try {
        FOnBeforeNavigate2(this, nullptr, url, cancel);
    } catch (...) {
        // The browser waits for its answer: the error is shown and the event
        // returns normally, with whatever the guard had set.
        Application->HandleException();
    }
}

// --- main window ----------------------------------------------------------

TForm1::TForm1(TApplication& application, const TBuildValues& build, const TShellServices& services)
    : FApplication(application), FPlatform(application.Platform()), FBuild(build), FServices(services) {
    // Valid inside the creation handler; the application's main window is
    // set only once construction has returned.
    Form1 = this;
    const TWindowScale scale = ScaleWindow(
        FPlatform.PixelsPerInch(), [this](int fontHeight) { return FPlatform.MeasureTextHeight(fontHeight); });
    FClientWidth = scale.ClientWidth;
    FClientHeight = scale.ClientHeight;
    FPlatform.CreateMainWindow(FClientWidth, FClientHeight);
    try {
        FormCreate(this);
    } catch (...) {
        // The rest of the handler is skipped; the window is still made the
        // main window and shown.
        FApplication.HandleException();
    }
}

TForm1::~TForm1() {
    FWebBrowser.reset();
    WebBrowser = nullptr;
    FPlatform.DestroyMainWindow();
    if (Form1 == this) Form1 = nullptr;
}

void TForm1::FormCreate(TForm1* /*Sender*/) {
    FWebBrowser = std::make_unique<TWebBrowser>(FPlatform);
    WebBrowser = FWebBrowser.get();
    // No frame: the outer size is the client size.
    WebBrowser->SetBounds(0, 0, FClientWidth, FClientHeight);
    WebBrowser->SetOnBeforeNavigate2([this](TWebBrowser* ASender, const void* pDisp, const std::string& URL,
                                            std::int16_t& Cancel) {
        WebBrowser1BeforeNavigate2(ASender, pDisp, URL, Cancel);
    });
    SourceTag = DeriveSourceTag(FPlatform.ExecutablePath());
    SoftId = FBuild.SoftId;
    WebBrowser->Navigate(BuildStartPageUrl(FBuild.StartPageHost, SourceTag));
    StartUpPump();
}

void TForm1::StartUpPump() {
    for (int round = 0; round < kStartUpPumpRounds; ++round) {
        FPlatform.SleepMilliseconds(1);
        FPlatform.ProcessPendingMessages();
        // The session has ended: nothing of the start-up runs any more.
        if (FApplication.Terminated()) return;
    }
}

void TForm1::FormActivate(TForm1* /*Sender*/) {
    TInstallReport report;
    report.Folders = FServices.Folders;
    report.ReportHost = FBuild.ReportHost;
    report.MakeDeviceCode = FServices.MakeDeviceCode;
    report.HttpGetOk = FServices.HttpGetOk;
    CheckInstallMarker(report, SoftId, SourceTag);
}

void TForm1::WebBrowser1BeforeNavigate2(TWebBrowser* /*ASender*/, const void* /*pDisp*/,
                                        const std::string& URL, std::int16_t& Cancel) {
    if (GuardNavigation(URL, Cancel)) Close();
}

void TForm1::Close() {
    // No close query is bound, so the window may always close.
    if (FApplication.MainForm() == this) {
        FApplication.Terminate();
    } else {
        FPlatform.HideMainWindow();
    }
}

void TForm1::Activate() {
    // The only window of the program stays the active one from its first
    // focus on, so coming back from another application is no activation.
    if (FActive) return;
    FActive = true;
    FormActivate(this);
}

void TForm1::Show() {
    const TPoint origin = FPlatform.VirtualDesktopOrigin();
    const TPoint at = CentreWindow(FPlatform.PrimaryWorkArea(), FClientWidth, FClientHeight, origin.X, origin.Y);
    FPlatform.ShowMainWindow(at, StartupShowState(FPlatform.StartupShowValue()));
}

// --- application ----------------------------------------------------------

TApplication::TApplication(IPlatform& platform)
    : FPlatform(platform), FTitle(ApplicationTitle(platform.ExecutablePath())) {
    Application = this;
    FPlatform.SetEvents(this);
}

TApplication::~TApplication() {
    FForm.reset();
    FPlatform.SetEvents(nullptr);
    if (Application == this) Application = nullptr;
}

void TApplication::CreateForm(const TBuildValues& build, const TShellServices& services) {
    FForm = std::make_unique<TForm1>(*this, build, services);
    FMainForm = FForm.get();
}

void TApplication::Run() {
    if (FTerminate || FMainForm == nullptr) return;
    try {
        FMainForm->Show();
    } catch (...) {
        HandleException();
    }
    while (!FTerminate) {
        try {
            FPlatform.HandleMessage();
        } catch (...) {
            HandleException();
        }
    }
}

void TApplication::Terminate() { FPlatform.PostQuit(); }

void TApplication::Finish() {
    FMainForm = nullptr;
    FForm.reset();
    std::string().swap(SourceTag);
    std::string().swap(SoftId);
}

void TApplication::HandleException() {
    try {
        throw;
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowException(Exception("Unknown error"));
    }
}

void TApplication::ShowException(const std::exception& error) {
    try {
        FPlatform.ShowErrorBox(FTitle, ErrorBoxText(InnermostMessage(error)));
    } catch (...) {
        // Nothing is left to tell the user with.
    }
}

void TApplication::OnActivate() {
    if (Form1 == nullptr || FTerminate) return;
    try {
        Form1->Activate();
    } catch (...) {
        HandleException();
    }
}

void TApplication::OnCloseRequest() {
    if (Form1 == nullptr || FTerminate) return;
    try {
        Form1->Close();
    } catch (...) {
        HandleException();
    }
}

void TApplication::OnEndSession() {
    // The end is confirmed: the loop (or the start-up pump) is left at once
    // and the exit sequence runs.
    FTerminate = true;
}

void TApplication::OnExitNow() {
    FTerminate = true;
    // A form still inside its creation handler is not owned yet and stays:
    // the platform takes its window down, and the process ends anyway.
    Finish();
}

void TApplication::OnQuitMessage() { FTerminate = true; }

int RunShell(IPlatform& platform, const TBuildValues& build, const TShellServices& services) {
    TApplication application(platform);
    application.CreateForm(build, services);
    application.Run();
    application.Finish();
    return 0;
}

}  // namespace quorvel
