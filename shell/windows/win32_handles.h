// One owner for each Win32 handle the shell makes.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ole2.h>

#include <utility>

namespace quorvel::win {

class TUniqueWindow {
public:
    TUniqueWindow() = default;
    explicit TUniqueWindow(HWND window) : FWindow(window) {}
    ~TUniqueWindow() { Reset(); }
    TUniqueWindow(const TUniqueWindow&) = delete;
    TUniqueWindow& operator=(const TUniqueWindow&) = delete;
    TUniqueWindow& operator=(TUniqueWindow&& other) noexcept {
        if (this != &other) {
            Reset();
            FWindow = std::exchange(other.FWindow, nullptr);
        }
        return *this;
    }
    HWND Get() const { return FWindow; }
    void Reset() {
        if (FWindow != nullptr) ::DestroyWindow(std::exchange(FWindow, nullptr));
    }

private:
    HWND FWindow = nullptr;
};

// The screen's device context, released when it goes.
class TScreenDC {
public:
    TScreenDC() : FDC(::GetDC(nullptr)) {}
    ~TScreenDC() {
        if (FDC != nullptr) ::ReleaseDC(nullptr, FDC);
    }
    TScreenDC(const TScreenDC&) = delete;
    TScreenDC& operator=(const TScreenDC&) = delete;
    HDC Get() const { return FDC; }

private:
    HDC FDC;
};

// A GDI object selected into a DC for the scope, then deleted.
class TSelectedFont {
public:
    TSelectedFont(HDC dc, HFONT font) : FDC(dc), FFont(font), FPrevious(font ? ::SelectObject(dc, font) : nullptr) {}
    ~TSelectedFont() {
        if (FPrevious != nullptr) ::SelectObject(FDC, FPrevious);
        if (FFont != nullptr) ::DeleteObject(FFont);
    }
    TSelectedFont(const TSelectedFont&) = delete;
    TSelectedFont& operator=(const TSelectedFont&) = delete;
    bool Valid() const { return FFont != nullptr; }

private:
    HDC FDC;
    HFONT FFont;
    HGDIOBJ FPrevious;
};

// OleInitialize and CoInitialize, undone only when they succeeded.
class TOleInitialization {
public:
    TOleInitialization() : FSucceeded(SUCCEEDED(::OleInitialize(nullptr))) {}
    ~TOleInitialization() {
        if (FSucceeded) ::OleUninitialize();
    }
    TOleInitialization(const TOleInitialization&) = delete;
    TOleInitialization& operator=(const TOleInitialization&) = delete;

private:
    bool FSucceeded;
};

class TComInitialization {
public:
    TComInitialization() : FSucceeded(SUCCEEDED(::CoInitialize(nullptr))) {}
    ~TComInitialization() {
        if (FSucceeded) ::CoUninitialize();
    }
    TComInitialization(const TComInitialization&) = delete;
    TComInitialization& operator=(const TComInitialization&) = delete;

private:
    bool FSucceeded;
};

}  // namespace quorvel::win
