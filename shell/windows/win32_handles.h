// One owner for each Win32 handle the shell makes.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ole2.h>

#include "http/scoped_generic.h"

namespace quorvel::win {

struct TWindowTraits {
    static HWND InvalidValue() { return nullptr; }
    static void Free(HWND window) { ::DestroyWindow(window); }
};
using TUniqueWindow = TScopedGeneric<HWND, TWindowTraits>;

// The screen's device context (GetDC(nullptr)), released when it goes.
struct TScreenDCTraits {
    static HDC InvalidValue() { return nullptr; }
    static void Free(HDC dc) { ::ReleaseDC(nullptr, dc); }
};
using TScreenDC = TScopedGeneric<HDC, TScreenDCTraits>;

struct TGdiObjectTraits {
    static HGDIOBJ InvalidValue() { return nullptr; }
    static void Free(HGDIOBJ object) { ::DeleteObject(object); }
};
using TUniqueGdiObject = TScopedGeneric<HGDIOBJ, TGdiObjectTraits>;

// A font selected into a DC for the scope; the DC's previous object is put
// back before the font is deleted.
class TSelectedFont {
public:
    TSelectedFont(HDC dc, HFONT font) : FDC(dc), FFont(font), FPrevious(font ? ::SelectObject(dc, font) : nullptr) {}
    ~TSelectedFont() {
        if (FPrevious != nullptr) ::SelectObject(FDC, FPrevious);
    }
    TSelectedFont(const TSelectedFont&) = delete;
    TSelectedFont& operator=(const TSelectedFont&) = delete;
    bool Valid() const { return FFont.IsValid(); }

private:
    HDC FDC;
    TUniqueGdiObject FFont;
    HGDIOBJ FPrevious;
};

// Initialisations of the thread, not handles: undone only when they
// succeeded.
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
