// One owner for each Win32 handle the shell makes.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <ole2.h>

#include "http/scoped_generic.h"

namespace quorvel::win {

using TUniqueWindow = TScopedGeneric<HWND, TNullHandleTraits<HWND, ::DestroyWindow>>;

// The screen's device context (GetDC(nullptr)), released when it goes.
struct TScreenDCTraits {
    static HDC InvalidValue() { return nullptr; }
    static void Free(HDC dc) { ::ReleaseDC(nullptr, dc); }
};
using TScreenDC = TScopedGeneric<HDC, TScreenDCTraits>;

using TUniqueGdiObject = TScopedGeneric<HGDIOBJ, TNullHandleTraits<HGDIOBJ, ::DeleteObject>>;

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

// An initialisation of the thread (not a handle), undone only when it
// succeeded.
template <auto Initialize, auto Uninitialize>
class TThreadInitialization {
public:
    TThreadInitialization() : FSucceeded(SUCCEEDED(Initialize(nullptr))) {}
    ~TThreadInitialization() {
        if (FSucceeded) Uninitialize();
    }
    TThreadInitialization(const TThreadInitialization&) = delete;
    TThreadInitialization& operator=(const TThreadInitialization&) = delete;

private:
    bool FSucceeded;
};
using TOleInitialization = TThreadInitialization<::OleInitialize, ::OleUninitialize>;
using TComInitialization = TThreadInitialization<::CoInitialize, ::CoUninitialize>;

}  // namespace quorvel::win
