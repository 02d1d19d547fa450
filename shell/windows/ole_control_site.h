// The host side of the OLE control protocol for the WebBrowser control: the
// site interfaces and their answers, ambient properties, event delivery,
// keyboard offers, sizing and the release order at exit.
#pragma once

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <exdisp.h>
#include <ocidl.h>
#include <ole2.h>
#include <servprov.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "shell/windows/com_ptr.h"
#include "shell/windows/event_sink.h"

namespace quorvel::win {

// "{8856F961-340A-11D0-A96B-00C04FD705A2}"
inline constexpr GUID kWebBrowserClass = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};
// "{D30C1661-CDAF-11D0-8A3E-00C04FC9E26E}"
inline constexpr GUID kIWebBrowser2 = {0xD30C1661, 0xCDAF, 0x11D0, {0x8A, 0x3E, 0x00, 0xC0, 0x4F, 0xC9, 0xE2, 0x6E}};

// The clip rectangle every position change is given.
inline constexpr RECT kClip = {0, 0, 32767, 32767};

// HIMETRIC (2540 per inch) and pixels at ppi.
int HimetricToPixels(int value, int ppi);
int PixelsToHimetric(int value, int ppi);

class TOleControlSite final : public IOleClientSite,
                              public IOleInPlaceSite,
                              public IOleInPlaceFrame,
                              public IOleControlSite,
                              public IDispatch,
                              public IPropertyNotifySink,
                              public ISimpleFrameSite,
                              public IServiceProvider {
public:
    using TBeforeNavigate2 = std::function<void(const std::string& url, std::int16_t& cancel)>;

    // Step 1 of placing the browser: the event sink, then the control, with
    // the client site given first when the control asks for it. Raises with
    // the system's text when the control cannot be created.
    TOleControlSite(int pixelsPerInch, const GUID& classId = kWebBrowserClass);
    // Closes and releases the control in the order of the exit sequence.
    ~TOleControlSite();
    TOleControlSite(const TOleControlSite&) = delete;
    TOleControlSite& operator=(const TOleControlSite&) = delete;

    // Step 2: in-place activation inside `parent`; raises "OLE control
    // activation failed" or "Could not obtain OLE control window handle".
    void Attach(HWND parent);
    void SetBounds(int left, int top, int width, int height);
    void Navigate(const std::string& url);
    // The event handler table's only slot that the program fills.
    void SetOnBeforeNavigate2(TBeforeNavigate2 handler) { FOnBeforeNavigate2 = std::move(handler); }
    // A keystroke for the browser: true when the control consumed it.
    bool TranslateKey(const MSG& message);

    HWND ControlWindow() const { return FControlWindow; }
    RECT Bounds() const { return FBounds; }
    IOleObject* OleObject() const { return FOleObject.Get(); }
    bool InPlaceActive() const { return static_cast<bool>(FInPlaceObject); }
    bool EventsConnected() const { return FEventCookie != 0; }
    // Delivers one control event as the sink does (tests send their own).
    void DeliverEvent(DISPID dispid, DISPPARAMS& params);
    // Takes one changed control property into the host, as the
    // property-notify sink does with what it read (tests pass their own).
    void CopyControlProperty(DISPID dispid, const VARIANT& value);

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++FReferences; }
    // The platform owns the site; the count only tells who still holds it.
    ULONG STDMETHODCALLTYPE Release() override { return --FReferences; }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** container) override;
    HRESULT STDMETHODCALLTYPE ShowObject() override;
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override;

    // IOleWindow, shared by the in-place site and the frame
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* window) override;
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return S_OK; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override;
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                               LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override;
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override;
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT position) override;

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no tools, no menu.
    HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IOleControlSite
    HRESULT STDMETHODCALLTYPE OnControlInfoChanged() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE LockInPlaceActive(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetExtendedControl(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(MSG*, DWORD) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnFocus(BOOL) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE ShowPropertyFrame() override { return E_NOTIMPL; }

    // IDispatch: the ambient properties
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result,
                                     EXCEPINFO*, UINT*) override;

    // IPropertyNotifySink
    HRESULT STDMETHODCALLTYPE OnChanged(DISPID dispid) override;
    HRESULT STDMETHODCALLTYPE OnRequestEdit(DISPID) override { return S_OK; }

    // ISimpleFrameSite
    HRESULT STDMETHODCALLTYPE PreMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT*, DWORD*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE PostMessageFilter(HWND, UINT, WPARAM, LPARAM, LRESULT*, DWORD) override { return S_OK; }

    // IServiceProvider
    HRESULT STDMETHODCALLTYPE QueryService(REFGUID, REFIID, void** object) override;

    ULONG References() const { return FReferences.load(); }

private:
    void SetClientSiteOnce();
    void ReadExtent();
    void Connect(REFIID events, IUnknown* sink, TComPtr<IConnectionPoint>& point, DWORD& cookie);
    static void Disconnect(TComPtr<IConnectionPoint>& point, DWORD& cookie);
    void HookControlWindow();
    void UnhookControlWindow();
    static LRESULT CALLBACK ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    const int FPixelsPerInch;
    std::atomic<ULONG> FReferences{0};
    std::optional<TEventSink> FEventSink;  // freed before the window procedure is restored
    TComPtr<IOleObject> FOleObject;
    DWORD FMiscStatus = 0;
    bool FClientSiteSet = false;
    TComPtr<IPersistStreamInit> FPersistStream;
    TComPtr<IOleControl> FOleControl;
    CONTROLINFO FControlInfo{};
    TComPtr<IDispatch> FControlDispatch;
    TComPtr<IPerPropertyBrowsing> FPropertyBrowsing;
    TComPtr<IOleInPlaceObject> FInPlaceObject;
    TComPtr<IOleInPlaceActiveObject> FInPlaceActiveObject;
    TComPtr<IWebBrowser2> FWebBrowser2;
    TComPtr<IConnectionPoint> FEventPoint;
    DWORD FEventCookie = 0;
    TComPtr<IConnectionPoint> FPropertyPoint;
    DWORD FPropertyCookie = 0;
    HWND FParent = nullptr;
    HWND FControlWindow = nullptr;
    WNDPROC FControlWindowProc = nullptr;
    RECT FBounds{0, 0, 0, 0};
    // Copied from the control when it reports a change.
    bool FEnabled = true;
    OLE_COLOR FBackColor = 0x80000005;  // clWindow: the host's colour, never set by the program
    OLE_COLOR FForeColor = 0x80000008;  // clWindowText: the colour of the host's font
    TComPtr<IDispatch> FFontFromControl;  // the host's font once copied; before that Tahoma 8
    TBeforeNavigate2 FOnBeforeNavigate2;
};

}  // namespace quorvel::win
