#include "shell/windows/event_sink.h"

#include "http/exceptions.h"
#include "http/windows/windows_text.h"
#include "shell/windows/com_ptr.h"

namespace quorvel::win {

namespace {

bool IsByRefVariant(const VARIANTARG& a) { return a.vt == (VT_BYREF | VT_VARIANT) && a.pvarVal != nullptr; }

}  // namespace

std::optional<TBeforeNavigate2Args> ReorderBeforeNavigate2(const DISPPARAMS& params) {
    if (params.cArgs != 7 || params.rgvarg == nullptr) return std::nullopt;
    const VARIANTARG* a = params.rgvarg;
    if (a[0].vt != (VT_BYREF | VT_BOOL) || a[0].pboolVal == nullptr) return std::nullopt;
    for (int i = 1; i <= 5; ++i) {
        if (!IsByRefVariant(a[i])) return std::nullopt;
    }
    IDispatch* pDisp = nullptr;
    if (a[6].vt == VT_DISPATCH) {
        pDisp = a[6].pdispVal;
    } else if (a[6].vt == (VT_BYREF | VT_DISPATCH) && a[6].ppdispVal != nullptr) {
        pDisp = *a[6].ppdispVal;
    } else {
        return std::nullopt;
    }
    return TBeforeNavigate2Args{pDisp, a[5].pvarVal, a[4].pvarVal, a[3].pvarVal, a[2].pvarVal, a[1].pvarVal,
                                a[0].pboolVal};
}

std::string VariantText(const VARIANT& value) {
    const VARIANT* v = &value;
    while (v->vt == (VT_BYREF | VT_VARIANT) && v->pvarVal != nullptr) v = v->pvarVal;
    if (v->vt == VT_EMPTY) return std::string();
    if (v->vt == VT_BSTR) {
        const BSTR text = v->bstrVal;
        return Narrow(std::wstring_view(text, ::SysStringLen(text)));
    }
    TVariant converted;
    if (FAILED(::VariantChangeType(converted.Get(), const_cast<VARIANT*>(v), 0, VT_BSTR)) || converted.Value().vt != VT_BSTR)
        throw Exception("Could not convert variant of type (" + std::to_string(v->vt) + ") into type (String)");
    const BSTR text = converted.Value().bstrVal;
    return Narrow(std::wstring_view(text, ::SysStringLen(text)));
}

HRESULT STDMETHODCALLTYPE TEventSink::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, kDWebBrowserEvents2)) {
        *object = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE TEventSink::GetTypeInfoCount(UINT* count) {
    if (count != nullptr) *count = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE TEventSink::Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*,
                                             EXCEPINFO*, UINT*) {
    if (dispid >= -607 && dispid <= -600) return S_OK;
    if (params == nullptr || !FDeliver) return S_OK;
    try {
        FDeliver(dispid, *params);
    } catch (...) {
        // Nothing may unwind into the control.
    }
    return S_OK;
}

}  // namespace quorvel::win
