// A platform that records what the shell asks of it and lets a test raise
// events at the moments the real platforms do: inside the start-up pump,
// inside the first show, from the message loop.
#pragma once

#include <deque>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "shell/platform.h"

namespace quorvel::testing {

class TFakePlatform final : public IPlatform {
public:
    // What the tests set up.
    std::string ExePath = "Quorvel_t1.bin";  // as the Linux platform reports it
    std::optional<int> ShowValue;
    int Ppi = 96;
    std::function<int(int)> TextHeight = [](int) { return 13; };
    TRect WorkArea{0, 0, 1600, 1000};
    TPoint Origin{0, 0};
    bool FailCreateBrowser = false;
    bool FailHide = false;
    // Run inside the given pump round (1..51), once.
    std::function<void(int round)> DuringPump;
    // Run when the view gets its bounds, before the guard's slot is bound.
    std::function<void()> DuringBounds;
    // Run inside the first show, as Windows activates there.
    std::function<void()> DuringShow;
    // Each taken by one HandleMessage; an empty queue takes the quit or ends
    // the session so that a test never blocks.
    std::deque<std::function<void()>> Messages;

    // What the shell did.
    std::vector<std::string> Log;
    std::vector<std::string> ErrorBoxes;  // title + "|" + text
    int PumpRounds = 0;
    int Sleeps = 0;
    bool QuitPosted = false;
    TBeforeNavigateHandler Handler;
    IShellEvents* Events = nullptr;

    // The browser reports a navigation; returns the veto it got back.
    std::int16_t ReportNavigation(const std::string& url) {
        std::int16_t cancel = 0;
        if (Handler) Handler(url, cancel);
        return cancel;
    }

    bool Logged(const std::string& entry) const {
        for (const auto& e : Log)
            if (e == entry) return true;
        return false;
    }

    void SetEvents(IShellEvents* events) override { Events = events; }
    std::string ExecutablePath() override { return ExePath; }
    std::optional<int> StartupShowValue() override { return ShowValue; }
    int PixelsPerInch() override { return Ppi; }
    int MeasureTextHeight(int fontHeight) override {
        Log.push_back("measure " + std::to_string(fontHeight));
        return TextHeight(fontHeight);
    }
    TRect PrimaryWorkArea() override { return WorkArea; }
    TPoint VirtualDesktopOrigin() override { return Origin; }

    void CreateMainWindow(int w, int h) override {
        Log.push_back("window " + std::to_string(w) + "x" + std::to_string(h));
    }
    void HideMainWindow() override {
        Log.push_back("hide");
        if (FailHide) throw std::runtime_error("hide failed");
    }
    void ShowMainWindow(TPoint at, TShowState state) override {
        Log.push_back("show " + std::to_string(at.X) + "," + std::to_string(at.Y) + " " +
                      std::to_string(ShowCommand(state)));
        if (DuringShow) DuringShow();
    }
    void DestroyMainWindow() override { Log.push_back("destroy"); }

    void CreateBrowser() override {
        if (FailCreateBrowser) throw std::runtime_error("Class not registered");
        Log.push_back("browser");
    }
    void SetBrowserBounds(int l, int t, int w, int h) override {
        Log.push_back("bounds " + std::to_string(l) + "," + std::to_string(t) + "," + std::to_string(w) + "," +
                      std::to_string(h));
        if (DuringBounds) DuringBounds();
    }
    void BindBeforeNavigate(TBeforeNavigateHandler handler) override {
        Log.push_back(handler ? "bind" : "unbind");
        Handler = std::move(handler);
    }
    void Navigate(const std::string& url) override { Log.push_back("navigate " + url); }

    void HandleMessage() override {
        if (QuitPosted) {
            QuitPosted = false;
            Log.push_back("quit taken");
            Events->OnQuitMessage();
            return;
        }
        if (Messages.empty()) {
            Log.push_back("idle: session ended");
            Events->OnEndSession();
            return;
        }
        auto message = std::move(Messages.front());
        Messages.pop_front();
        message();
    }
    void ProcessPendingMessages() override {
        ++PumpRounds;
        if (PumpRounds == 1) Log.push_back("pump");
        if (DuringPump) DuringPump(PumpRounds);
    }
    void PostQuit() override {
        Log.push_back("post quit");
        QuitPosted = true;
    }
    void SleepMilliseconds(int ms) override {
        if (ms == 1) ++Sleeps;
    }
    void ShowErrorBox(const std::string& title, const std::string& text) override {
        Log.push_back("error box");
        ErrorBoxes.push_back(title + "|" + text);
    }
};

}  // namespace quorvel::testing
