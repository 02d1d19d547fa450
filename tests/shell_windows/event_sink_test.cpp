// The control's events: BeforeNavigate2's argument order, and what the sink
// answers the control whatever the handler does.
#include "shell/windows/event_sink.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <vector>

#include "shell/windows/com_ptr.h"

namespace quorvel::win {
namespace {

// BeforeNavigate2's seven arguments as the control passes them: last first.
struct TBeforeNavigate2Call {
    VARIANT Url{}, Flags{}, Frame{}, PostData{}, Headers{};
    VARIANT_BOOL Cancel = VARIANT_FALSE;
    VARIANTARG Args[7]{};
    DISPPARAMS Params{Args, nullptr, 7, 0};

    explicit TBeforeNavigate2Call(IDispatch* pDisp, const wchar_t* url) {
        Url.vt = VT_BSTR;
        Url.bstrVal = ::SysAllocString(url);
        VARIANT* byRef[5] = {&Headers, &PostData, &Frame, &Flags, &Url};
        Args[0].vt = VT_BYREF | VT_BOOL;
        Args[0].pboolVal = &Cancel;
        for (int i = 0; i < 5; ++i) {
            Args[1 + i].vt = VT_BYREF | VT_VARIANT;
            Args[1 + i].pvarVal = byRef[i];
        }
        Args[6].vt = VT_DISPATCH;
        Args[6].pdispVal = pDisp;
    }
    ~TBeforeNavigate2Call() { ::VariantClear(&Url); }
};

TEST(BeforeNavigate2Arguments, AreReorderedFromLastFirstIntoTheGuardsOrder) {
    IDispatch* frame = reinterpret_cast<IDispatch*>(0x1234);
    TBeforeNavigate2Call call(frame, L"http://a/");
    const auto args = ReorderBeforeNavigate2(call.Params);
    ASSERT_TRUE(args.has_value());
    EXPECT_EQ(args->pDisp, frame);
    EXPECT_EQ(args->URL, &call.Url);
    EXPECT_EQ(args->Flags, &call.Flags);
    EXPECT_EQ(args->TargetFrameName, &call.Frame);
    EXPECT_EQ(args->PostData, &call.PostData);
    EXPECT_EQ(args->Headers, &call.Headers);
    EXPECT_EQ(args->Cancel, &call.Cancel);
}

TEST(BeforeNavigate2Arguments, AnotherShapeIsNoBeforeNavigate2) {
    TBeforeNavigate2Call call(nullptr, L"http://a/");
    call.Params.cArgs = 6;
    EXPECT_FALSE(ReorderBeforeNavigate2(call.Params).has_value());
    call.Params.cArgs = 7;
    call.Args[0].vt = VT_BOOL;  // Cancel not by reference: nothing to write the answer to
    EXPECT_FALSE(ReorderBeforeNavigate2(call.Params).has_value());
    call.Args[0].vt = VT_BYREF | VT_BOOL;
    call.Args[5].vt = VT_BSTR;  // URL not by reference
    EXPECT_FALSE(ReorderBeforeNavigate2(call.Params).has_value());
}

TEST(VariantTextOfTheUrl, IsUtf8OfTheStringEmptyForEmptyAndRaisesWithoutText) {
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = ::SysAllocString(L"http://h/t\u00E4g?c100100");
    VARIANT byRef;
    byRef.vt = VT_BYREF | VT_VARIANT;
    byRef.pvarVal = &text;
    EXPECT_EQ(VariantText(byRef), "http://h/t\xC3\xA4g?c100100");
    ::VariantClear(&text);

    VARIANT empty;
    ::VariantInit(&empty);
    EXPECT_EQ(VariantText(empty), "");
    VARIANT number;
    number.vt = VT_I4;
    number.lVal = 42;
    EXPECT_EQ(VariantText(number), "42");
    VARIANT object;
    object.vt = VT_UNKNOWN;
    object.punkVal = nullptr;
    EXPECT_THROW(VariantText(object), std::exception);
}

TEST(EventSink, StandardMouseAndKeyEventsReachNoHandler) {
    std::vector<DISPID> delivered;
    TEventSink sink([&](DISPID dispid, DISPPARAMS&) { delivered.push_back(dispid); });
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    for (DISPID d : {-607, -600, -601, -599, -608, 250, 259})
        EXPECT_EQ(sink.Invoke(d, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK) << d;
    EXPECT_EQ(delivered, (std::vector<DISPID>{-599, -608, 250, 259}));
}

TEST(EventSink, AnswersSuccessWhenTheHandlerFails) {
    TEventSink sink([](DISPID, DISPPARAMS&) { throw std::runtime_error("handler failed"); });
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(sink.Invoke(250, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr), S_OK);
}

TEST(EventSink, OffersItselfForTheEventInterfaceOnly) {
    TEventSink sink(nullptr);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &kDWebBrowserEvents2}) {
        void* object = nullptr;
        EXPECT_EQ(sink.QueryInterface(*iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<IDispatch*>(&sink));
        sink.Release();
    }
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(sink.QueryInterface(IID_IOleClientSite, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(sink.References(), 0u);
}

}  // namespace
}  // namespace quorvel::win
