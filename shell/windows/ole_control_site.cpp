#include "shell/windows/ole_control_site.h"

#include <olectl.h>

#include <cmath>

#include "http/exceptions.h"
#include "http/windows/system_error_text.h"
#include "http/windows/windows_text.h"
#include "shell/application.h"
#include "shell/window_rules.h"

namespace quorvel::win {

namespace {

constexpr int kHimetricPerInch = 2540;
constexpr wchar_t kSiteProperty[] = L"QuorvelOleControlSite";

// The ambient properties' DISPIDs.
constexpr DISPID kAmbientBackColor = -701;
constexpr DISPID kAmbientDisplayName = -702;
constexpr DISPID kAmbientFont = -703;
constexpr DISPID kAmbientForeColor = -704;
constexpr DISPID kAmbientLocaleId = -705;
constexpr DISPID kAmbientMessageReflect = -706;
constexpr DISPID kAmbientUserMode = -709;
constexpr DISPID kAmbientUIDead = -710;
constexpr DISPID kAmbientShowGrabHandles = -711;
constexpr DISPID kAmbientShowHatching = -712;
constexpr DISPID kAmbientSupportsMnemonics = -714;
constexpr DISPID kAmbientAutoClip = -715;
// The control's own properties the property-notify sink copies.
constexpr DISPID kPropertyEnabled = -514;
constexpr DISPID kPropertyForeColor = -513;
constexpr DISPID kPropertyFont = -512;
constexpr DISPID kPropertyBackColor = -501;

[[noreturn]] void RaiseOleError(HRESULT result) {
    std::string text = SystemErrorText(static_cast<std::uint32_t>(result));
    if (text.empty()) {
        char code[32];
        std::snprintf(code, sizeof code, "OLE error %.8lX", static_cast<unsigned long>(result));
        text = code;
    }
    throw Exception(text);
}

void OleCheck(HRESULT result) {
    if (FAILED(result)) RaiseOleError(result);
}

void SetBool(VARIANT* result, bool value) {
    result->vt = VT_BOOL;
    result->boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
}

void SetInt(VARIANT* result, std::int32_t value) {
    result->vt = VT_I4;
    result->lVal = value;
}

// The host's font: the main window's Tahoma at 8 points.
HRESULT HostFont(VARIANT* result) {
    FONTDESC description{};
    description.cbSizeofstruct = sizeof description;
    description.lpstrName = const_cast<LPOLESTR>(L"Tahoma");
    description.cySize.int64 = 8 * 10000;
    description.sWeight = FW_NORMAL;
    description.sCharset = DEFAULT_CHARSET;
    IDispatch* font = nullptr;
    const HRESULT r = ::OleCreateFontIndirect(&description, IID_IFontDisp, reinterpret_cast<void**>(&font));
    if (FAILED(r)) return r;
    result->vt = VT_DISPATCH;
    result->pdispVal = font;
    return S_OK;
}

// The argument for an omitted optional parameter.
VARIANT OmittedArgument() {
    VARIANT v;
    ::VariantInit(&v);
    v.vt = VT_ERROR;
    v.scode = DISP_E_PARAMNOTFOUND;
    return v;
}

}  // namespace

int HimetricToPixels(int value, int ppi) { return MulDiv(value, ppi, kHimetricPerInch); }

int PixelsToHimetric(int value, int ppi) { return MulDiv(value, kHimetricPerInch, ppi); }

// --- creation, attach, release ------------------------------------------

TOleControlSite::TOleControlSite(int pixelsPerInch, const GUID& classId)
    : FPixelsPerInch(pixelsPerInch > 0 ? pixelsPerInch : 96) {
    FEventSink.emplace([this](DISPID dispid, DISPPARAMS& params) { DeliverEvent(dispid, params); });
    OleCheck(::CoCreateInstance(classId, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, IID_IOleObject,
                                FOleObject.PutVoid()));
    FOleObject->GetMiscStatus(DVASPECT_CONTENT, &FMiscStatus);
    if ((FMiscStatus & OLEMISC_SETCLIENTSITEFIRST) != 0) SetClientSiteOnce();
    OleCheck(FOleObject->QueryInterface(IID_IPersistStreamInit, FPersistStream.PutVoid()));
    ReadExtent();
}

TOleControlSite::~TOleControlSite() {
    if (FOleObject) FOleObject->Close(OLECLOSE_NOSAVE);
    Disconnect(FEventPoint, FEventCookie);
    Disconnect(FPropertyPoint, FPropertyCookie);
    FPropertyBrowsing.Reset();
    FWebBrowser2.Reset();
    FControlDispatch.Reset();
    FOleControl.Reset();
    FPersistStream.Reset();
    // Normally gone with the in-place deactivation that Close brings.
    FInPlaceActiveObject.Reset();
    FInPlaceObject.Reset();
    if (FOleObject && FClientSiteSet) FOleObject->SetClientSite(nullptr);
    FOleObject.Reset();
    FEventSink.reset();
    UnhookControlWindow();
}

void TOleControlSite::SetClientSiteOnce() {
    if (FClientSiteSet) return;
    OleCheck(FOleObject->SetClientSite(static_cast<IOleClientSite*>(this)));
    FClientSiteSet = true;
}

// The control's natural size becomes the host's.
void TOleControlSite::ReadExtent() {
    SIZEL extent{};
    if (FAILED(FOleObject->GetExtent(DVASPECT_CONTENT, &extent))) return;
    FBounds.right = FBounds.left + HimetricToPixels(extent.cx, FPixelsPerInch);
    FBounds.bottom = FBounds.top + HimetricToPixels(extent.cy, FPixelsPerInch);
}

void TOleControlSite::Attach(HWND parent) {
    FParent = parent;
    SetClientSiteOnce();
    OleCheck(FPersistStream->InitNew());
    OleCheck(FOleObject->QueryInterface(IID_IOleControl, FOleControl.PutVoid()));
    FControlInfo.cb = sizeof FControlInfo;
    FOleControl->GetControlInfo(&FControlInfo);
    OleCheck(FOleObject->QueryInterface(IID_IDispatch, FControlDispatch.PutVoid()));
    FPropertyBrowsing = TComPtr<IPerPropertyBrowsing>::From(FOleObject.Get(), IID_IPerPropertyBrowsing);
    Connect(IID_IPropertyNotifySink, static_cast<IPropertyNotifySink*>(this), FPropertyPoint, FPropertyCookie);
    Connect(kDWebBrowserEvents2, static_cast<IDispatch*>(&*FEventSink), FEventPoint, FEventCookie);
    FOleControl->OnAmbientPropertyChange(DISPID_UNKNOWN);
    ReadExtent();
    RECT bounds = FBounds;
    FOleObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(this), 0, FParent, &bounds);
    if (!FInPlaceObject) throw Exception("OLE control activation failed");
    HWND window = nullptr;
    if (FAILED(FInPlaceObject->GetWindow(&window)) || window == nullptr)
        throw Exception("Could not obtain OLE control window handle");
    FControlWindow = window;
    HookControlWindow();
}

// No matching connection point: the sink simply stays unconnected.
void TOleControlSite::Connect(REFIID events, IUnknown* sink, TComPtr<IConnectionPoint>& point, DWORD& cookie) {
    auto container = TComPtr<IConnectionPointContainer>::From(FOleObject.Get(), IID_IConnectionPointContainer);
    if (!container || FAILED(container->FindConnectionPoint(events, point.Put()))) {
        point.Reset();
        return;
    }
    if (FAILED(point->Advise(sink, &cookie))) {
        cookie = 0;
        point.Reset();
    }
}

void TOleControlSite::Disconnect(TComPtr<IConnectionPoint>& point, DWORD& cookie) {
    if (point && cookie != 0) point->Unadvise(cookie);
    cookie = 0;
    point.Reset();
}

// The control's window is one of the program's own: the message loop's
// keyboard routing stops at it (it finds it by this property).
void TOleControlSite::HookControlWindow() {
    if (FControlWindow == nullptr || FControlWindowProc != nullptr) return;
    ::SetPropW(FControlWindow, kSiteProperty, this);
    FControlWindowProc = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrW(FControlWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&ControlWindowProc)));
}

void TOleControlSite::UnhookControlWindow() {
    if (FControlWindow == nullptr || FControlWindowProc == nullptr) return;
    if (::IsWindow(FControlWindow)) {
        ::SetWindowLongPtrW(FControlWindow, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(FControlWindowProc));
        ::RemovePropW(FControlWindow, kSiteProperty);
    }
    FControlWindowProc = nullptr;
    FControlWindow = nullptr;
}

LRESULT CALLBACK TOleControlSite::ControlWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* site = static_cast<TOleControlSite*>(::GetPropW(window, kSiteProperty));
    if (site == nullptr || site->FControlWindowProc == nullptr) return ::DefWindowProcW(window, message, wParam, lParam);
    const WNDPROC original = site->FControlWindowProc;
    if (message == WM_NCDESTROY) {
        // The window goes with the main window: nothing is left to restore.
        ::SetWindowLongPtrW(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(original));
        ::RemovePropW(window, kSiteProperty);
        site->FControlWindowProc = nullptr;
        site->FControlWindow = nullptr;
    }
    return ::CallWindowProcW(original, window, message, wParam, lParam);
}

// --- what the program asks ----------------------------------------------

void TOleControlSite::SetBounds(int left, int top, int width, int height) {
    const int oldWidth = FBounds.right - FBounds.left;
    const int oldHeight = FBounds.bottom - FBounds.top;
    if (width != oldWidth || height != oldHeight) {
        SIZEL extent{PixelsToHimetric(width, FPixelsPerInch), PixelsToHimetric(height, FPixelsPerInch)};
        if (FOleObject->SetExtent(DVASPECT_CONTENT, &extent) != S_OK) {
            width = oldWidth;
            height = oldHeight;
        }
        FBounds = RECT{left, top, left + width, top + height};
        if (FInPlaceObject) FInPlaceObject->SetObjectRects(&FBounds, &FBounds);
        if (FControlWindow != nullptr) ::MoveWindow(FControlWindow, left, top, width, height, TRUE);
        return;
    }
    FBounds = RECT{left, top, left + width, top + height};
    if (FControlWindow != nullptr)
        ::SetWindowPos(FControlWindow, nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void TOleControlSite::Navigate(const std::string& url) {
    if (!FWebBrowser2) OleCheck(FControlDispatch->QueryInterface(kIWebBrowser2, FWebBrowser2.PutVoid()));
    const std::wstring wide = Wide(url);
    TBstr target(::SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size())));
    VARIANT flags = OmittedArgument();
    VARIANT frame = OmittedArgument();
    VARIANT postData = OmittedArgument();
    VARIANT headers = OmittedArgument();
    OleCheck(FWebBrowser2->Navigate(target.Get(), &flags, &frame, &postData, &headers));
}

bool TOleControlSite::TranslateKey(const MSG& message) {
    if (!FInPlaceActiveObject) return false;
    MSG offered{};
    offered.hwnd = FControlWindow;
    offered.message = message.message;
    offered.wParam = message.wParam;
    offered.lParam = message.lParam;
    offered.time = static_cast<DWORD>(::GetMessageTime());
    offered.pt = message.pt;
    return FInPlaceActiveObject->TranslateAccelerator(&offered) == S_OK;
}

void TOleControlSite::DeliverEvent(DISPID dispid, DISPPARAMS& params) {
    if (dispid != kDispidBeforeNavigate2 || !FOnBeforeNavigate2) return;
    const auto args = ReorderBeforeNavigate2(params);
    if (!args) return;
    std::string url;
    try {
        url = VariantText(*args->URL);
    } catch (const std::exception& error) {
        // A URL without text is no navigation the guard allowed.
        *args->Cancel = VARIANT_TRUE;
        if (Application != nullptr) Application->ShowException(error);
        return;
    }
    std::int16_t cancel = *args->Cancel;
    FOnBeforeNavigate2(url, cancel);
    *args->Cancel = cancel;
}

// --- IUnknown -------------------------------------------------------------

HRESULT STDMETHODCALLTYPE TOleControlSite::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IOleClientSite))
        *object = static_cast<IOleClientSite*>(this);
    else if (IsEqualIID(iid, IID_IOleWindow) || IsEqualIID(iid, IID_IOleInPlaceSite))
        *object = static_cast<IOleInPlaceSite*>(this);
    else if (IsEqualIID(iid, IID_IOleInPlaceUIWindow) || IsEqualIID(iid, IID_IOleInPlaceFrame))
        *object = static_cast<IOleInPlaceFrame*>(this);
    else if (IsEqualIID(iid, IID_IOleControlSite))
        *object = static_cast<IOleControlSite*>(this);
    else if (IsEqualIID(iid, IID_IDispatch))
        *object = static_cast<IDispatch*>(this);
    else if (IsEqualIID(iid, IID_IPropertyNotifySink))
        *object = static_cast<IPropertyNotifySink*>(this);
    else if (IsEqualIID(iid, IID_ISimpleFrameSite))
        *object = static_cast<ISimpleFrameSite*>(this);
    else if (IsEqualIID(iid, IID_IServiceProvider))
        *object = static_cast<IServiceProvider*>(this);
    else
        return E_NOINTERFACE;
    AddRef();
    return S_OK;
}

// --- IOleClientSite -------------------------------------------------------

HRESULT STDMETHODCALLTYPE TOleControlSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::GetContainer(IOleContainer** container) {
    if (container != nullptr) *container = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::ShowObject() {
    HookControlWindow();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::RequestNewObjectLayout() {
    SIZEL extent{};
    const HRESULT r = FOleObject->GetExtent(DVASPECT_CONTENT, &extent);
    if (FAILED(r)) return r;
    SetBounds(FBounds.left, FBounds.top, HimetricToPixels(extent.cx, FPixelsPerInch),
              HimetricToPixels(extent.cy, FPixelsPerInch));
    return S_OK;
}

// --- IOleWindow, IOleInPlaceSite -------------------------------------------

HRESULT STDMETHODCALLTYPE TOleControlSite::GetWindow(HWND* window) {
    if (window == nullptr) return E_POINTER;
    *window = FParent;
    return FParent != nullptr ? S_OK : E_FAIL;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::OnInPlaceActivate() {
    FInPlaceObject = TComPtr<IOleInPlaceObject>::From(FOleObject.Get(), IID_IOleInPlaceObject);
    FInPlaceActiveObject = TComPtr<IOleInPlaceActiveObject>::From(FOleObject.Get(), IID_IOleInPlaceActiveObject);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                                            LPRECT position, LPRECT clip,
                                                            LPOLEINPLACEFRAMEINFO info) {
    if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr || info == nullptr)
        return E_POINTER;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    *document = nullptr;
    *position = FBounds;
    *clip = kClip;
    info->fMDIApp = FALSE;
    info->hwndFrame = FParent;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::OnInPlaceDeactivate() {
    FInPlaceActiveObject.Reset();
    FInPlaceObject.Reset();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::DeactivateAndUndo() {
    if (FInPlaceObject) FInPlaceObject->UIDeactivate();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::OnPosRectChange(LPCRECT position) {
    if (position == nullptr) return E_POINTER;
    if (FInPlaceObject) FInPlaceObject->SetObjectRects(position, &kClip);
    return S_OK;
}

// --- IOleControlSite --------------------------------------------------------

HRESULT STDMETHODCALLTYPE TOleControlSite::TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) {
    if (himetric == nullptr || container == nullptr) return E_POINTER;
    if ((flags & XFORMCOORDS_HIMETRICTOCONTAINER) != 0) {
        container->x = static_cast<float>(HimetricToPixels(himetric->x, FPixelsPerInch));
        container->y = static_cast<float>(HimetricToPixels(himetric->y, FPixelsPerInch));
        return S_OK;
    }
    if ((flags & XFORMCOORDS_CONTAINERTOHIMETRIC) != 0) {
        himetric->x = std::lround(container->x * kHimetricPerInch / FPixelsPerInch);
        himetric->y = std::lround(container->y * kHimetricPerInch / FPixelsPerInch);
        return S_OK;
    }
    return E_INVALIDARG;
}

// --- IDispatch: ambient properties -----------------------------------------

HRESULT STDMETHODCALLTYPE TOleControlSite::GetTypeInfoCount(UINT* count) {
    if (count != nullptr) *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TOleControlSite::Invoke(DISPID dispid, REFIID, LCID, WORD flags, DISPPARAMS*,
                                                  VARIANT* result, EXCEPINFO*, UINT*) {
    if ((flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr) return DISP_E_MEMBERNOTFOUND;
    ::VariantInit(result);
    switch (dispid) {
        case kAmbientBackColor: SetInt(result, static_cast<std::int32_t>(FBackColor)); return S_OK;
        case kAmbientDisplayName:
            result->vt = VT_BSTR;
            result->bstrVal = ::SysAllocString(L"");
            return S_OK;
        case kAmbientFont:
            if (!FFontFromControl) return HostFont(result);
            result->vt = VT_DISPATCH;
            result->pdispVal = FFontFromControl.Get();
            result->pdispVal->AddRef();
            return S_OK;
        case kAmbientForeColor: SetInt(result, static_cast<std::int32_t>(FForeColor)); return S_OK;
        case kAmbientLocaleId: SetInt(result, static_cast<std::int32_t>(::GetUserDefaultLCID())); return S_OK;
        case kAmbientMessageReflect: SetBool(result, true); return S_OK;
        case kAmbientUserMode: SetBool(result, true); return S_OK;
        case kAmbientUIDead: SetBool(result, false); return S_OK;
        case kAmbientShowGrabHandles: SetBool(result, false); return S_OK;
        case kAmbientShowHatching: SetBool(result, false); return S_OK;
        case kAmbientSupportsMnemonics: SetBool(result, true); return S_OK;
        case kAmbientAutoClip: SetBool(result, true); return S_OK;
        default: return DISP_E_MEMBERNOTFOUND;
    }
}

// --- IPropertyNotifySink --------------------------------------------------

HRESULT STDMETHODCALLTYPE TOleControlSite::OnChanged(DISPID dispid) {
    if (!FControlDispatch) return S_OK;
    if (dispid != kPropertyEnabled && dispid != kPropertyForeColor && dispid != kPropertyFont &&
        dispid != kPropertyBackColor)
        return S_OK;
    // Errors while copying are ignored.
    TVariant value;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (FAILED(FControlDispatch->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_PROPERTYGET, &none,
                                        value.Get(), nullptr, nullptr)))
        return S_OK;
    CopyControlProperty(dispid, value.Value());
    return S_OK;
}

void TOleControlSite::CopyControlProperty(DISPID dispid, const VARIANT& v) {
    switch (dispid) {
        case kPropertyEnabled:
            if (v.vt == VT_BOOL) FEnabled = v.boolVal != VARIANT_FALSE;
            break;
        case kPropertyForeColor:
            if (v.vt == VT_I4 || v.vt == VT_UI4) FForeColor = static_cast<OLE_COLOR>(v.lVal);
            break;
        case kPropertyBackColor:
            if (v.vt == VT_I4 || v.vt == VT_UI4) FBackColor = static_cast<OLE_COLOR>(v.lVal);
            break;
        case kPropertyFont:
            if (v.vt == VT_DISPATCH && v.pdispVal != nullptr) {
                v.pdispVal->AddRef();
                FFontFromControl.Reset();
                *FFontFromControl.Put() = v.pdispVal;
            }
            break;
        default: break;
    }
}

// --- IServiceProvider -----------------------------------------------------

HRESULT STDMETHODCALLTYPE TOleControlSite::QueryService(REFGUID, REFIID, void** object) {
    if (object != nullptr) *object = nullptr;
    return E_NOTIMPL;
}

}  // namespace quorvel::win
