// The start-up order, the main window Form1 and its browser host, the close
// and exit rules: the program's spine, over the platform interface.
#pragma once

#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "report/install_marker.h"
#include "shell/platform.h"

namespace quorvel {

// The fixed values of one build (generated from the CMake cache).
struct TBuildValues {
    std::string StartPageHost;
    std::string ReportHost;
    std::string SoftId;
};

// What the install report calls besides the folders.
struct TShellServices {
    IFolders* Folders = nullptr;
    std::function<std::string()> MakeDeviceCode;
    std::function<bool(const std::string& url)> HttpGetOk;
};

class TForm1;
class TWebBrowser;
class TApplication;

// Program-wide values of the shell; the two strings are released at exit.
extern std::string SourceTag;
extern std::string SoftId;
extern TForm1* Form1;
extern TWebBrowser* WebBrowser;
extern TApplication* Application;

// The browser host: the view attached to the main window, and the slot of
// its before-navigate event.
class TWebBrowser {
public:
    using TBeforeNavigate2Event = std::function<void(TWebBrowser* ASender, const void* pDisp,
                                                     const std::string& URL, std::int16_t& Cancel)>;

    // Creates the browser and attaches its view to the main window.
    explicit TWebBrowser(IPlatform& platform);
    ~TWebBrowser();
    TWebBrowser(const TWebBrowser&) = delete;
    TWebBrowser& operator=(const TWebBrowser&) = delete;

    void SetBounds(int left, int top, int width, int height);
    void Navigate(const std::string& url);

    // The slot of the before-navigate event, empty until the creation
    // handler binds it. Only a filled slot takes the browser's events, so
    // those that come earlier are ignored before anything of them is read
    // (a URL without text included).
    void SetOnBeforeNavigate2(TBeforeNavigate2Event handler);
    const TBeforeNavigate2Event& OnBeforeNavigate2() const { return FOnBeforeNavigate2; }

private:
    void BeforeNavigate2(const std::string& url, std::int16_t& cancel);

    IPlatform& FPlatform;
    TBeforeNavigate2Event FOnBeforeNavigate2;
};

class TForm1 {
public:
    // Applies the window definition and the scaling rule, creates the hidden
    // platform window and runs the creation handler (its errors are shown).
    TForm1(TApplication& application, const TBuildValues& build, const TShellServices& services);
    ~TForm1();
    TForm1(const TForm1&) = delete;
    TForm1& operator=(const TForm1&) = delete;

    void FormCreate(TForm1* Sender);
    void FormActivate(TForm1* Sender);
    void WebBrowser1BeforeNavigate2(TWebBrowser* ASender, const void* pDisp, const std::string& URL,
                                    std::int16_t& Cancel);

    // The close sequence: termination for the main window, otherwise a hide.
    void Close();
    // Focus entered the window: the activation handler runs the first time.
    void Activate();
    // The first show: centred once, then shown in the start-up state.
    void Show();

    int ClientWidth() const { return FClientWidth; }
    int ClientHeight() const { return FClientHeight; }

private:
    void StartUpPump();

    TApplication& FApplication;
    IPlatform& FPlatform;
    TBuildValues FBuild;
    TShellServices FServices;
    std::unique_ptr<TWebBrowser> FWebBrowser;
    int FClientWidth = 0;
    int FClientHeight = 0;
    bool FActive = false;
};

class TApplication final : public IShellEvents {
public:
    explicit TApplication(IPlatform& platform);
    ~TApplication() override;
    TApplication(const TApplication&) = delete;
    TApplication& operator=(const TApplication&) = delete;

    IPlatform& Platform() { return FPlatform; }
    const std::string& Title() const { return FTitle; }
    TForm1* MainForm() const { return FMainForm; }
    bool Terminated() const { return FTerminate; }

    // Constructs Form1, then makes it the main window.
    void CreateForm(const TBuildValues& build, const TShellServices& services);
    // Shows the main window, then handles messages until the terminate flag.
    void Run();
    // Posts the quit request; the loop ends when it is taken.
    void Terminate();
    // Destroys the main window and what it owns, releases the shared strings.
    void Finish();

    // The error box for the exception being handled (call inside a catch).
    void HandleException();
    void ShowException(const std::exception& error);

    void OnActivate() override;
    void OnCloseRequest() override;
    void OnEndSession() override;
    void OnExitNow() override;
    void OnQuitMessage() override;

private:
    IPlatform& FPlatform;
    std::string FTitle;
    std::unique_ptr<TForm1> FForm;
    TForm1* FMainForm = nullptr;
    bool FTerminate = false;
};

// The whole run, start to exit; returns the exit status (0).
int RunShell(IPlatform& platform, const TBuildValues& build, const TShellServices& services);

}  // namespace quorvel
