// The receiver of the WebBrowser control's events (DWebBrowserEvents2).
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <oaidl.h>

#include <atomic>
#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace quorvel::win {

// "{34A715A0-6587-11D0-924A-0020AFC7AC4D}"
inline constexpr GUID kDWebBrowserEvents2 = {0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};
inline constexpr DISPID kDispidBeforeNavigate2 = 250;

// BeforeNavigate2's arguments in the order the guard takes them.
struct TBeforeNavigate2Args {
    IDispatch* pDisp;
    VARIANT* URL;
    VARIANT* Flags;
    VARIANT* TargetFrameName;
    VARIANT* PostData;
    VARIANT* Headers;
    VARIANT_BOOL* Cancel;
};

// The platform passes the seven arguments last-first; nullopt when they are
// not those of the event (count or types), so a malformed call is ignored.
std::optional<TBeforeNavigate2Args> ReorderBeforeNavigate2(const DISPPARAMS& params);

// A variant as text: empty for an empty variant; raises when it has no text.
std::string VariantText(const VARIANT& value);

// Answers success to every event; the standard mouse and key events
// (-607..-600) have no handler, every other event goes to `deliver`.
class TEventSink final : public IDispatch {
public:
    using TDeliver = std::function<void(DISPID dispid, DISPPARAMS& params)>;
    explicit TEventSink(TDeliver deliver) : FDeliver(std::move(deliver)) {}
    TEventSink(const TEventSink&) = delete;
    TEventSink& operator=(const TEventSink&) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    // The owner frees the sink; the count only tells who still holds it.
    ULONG STDMETHODCALLTYPE Release() override { return --FReferences; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override;

    ULONG References() const { return FReferences.load(); }

private:
    TDeliver FDeliver;
    std::atomic<ULONG> FReferences{0};
};

}  // namespace quorvel::win
