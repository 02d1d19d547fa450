// The WebBrowser control hosted by the site, under the system's own control:
// creation and in-place activation, the site's answers and ambient
// properties, event delivery to the guard's slot, sizing and release.
#include "shell/windows/ole_control_site.h"

#include <gtest/gtest.h>
#include <olectl.h>

#include <string>
#include <vector>

#include "shell/windows/win32_handles.h"

namespace quorvel::win {
namespace {

class ControlSite : public ::testing::Test {
protected:
    TOleInitialization ole;
    TUniqueWindow parent{::CreateWindowExW(0, L"STATIC", L"", WS_POPUP | WS_CLIPCHILDREN, 0, 0, 978, 727, nullptr,
                                           nullptr, ::GetModuleHandleW(nullptr), nullptr)};
};

TEST_F(ControlSite, AttachActivatesTheControlInPlaceInsideTheParent) {
    ASSERT_NE(parent.Get(), nullptr);
    TOleControlSite site(96);
    site.Attach(parent.Get());
    EXPECT_TRUE(site.InPlaceActive());
    ASSERT_NE(site.ControlWindow(), nullptr);
    EXPECT_TRUE(::IsChild(parent.Get(), site.ControlWindow()));
    EXPECT_TRUE(site.EventsConnected());

    site.SetBounds(0, 0, 978, 727);
    RECT r{};
    ::GetWindowRect(site.ControlWindow(), &r);
    EXPECT_EQ(r.right - r.left, 978);
    EXPECT_EQ(r.bottom - r.top, 727);
    EXPECT_EQ(site.Bounds().right, 978);
}

TEST_F(ControlSite, NavigateRaisesBeforeNavigate2ForTheGuardWithTheUrl) {
    TOleControlSite site(96);
    site.Attach(parent.Get());
    std::vector<std::string> seen;
    site.SetOnBeforeNavigate2([&](const std::string& url, std::int16_t& cancel) {
        seen.push_back(url);
        cancel = -1;
    });
    site.Navigate("http://127.0.0.1:9/quorvl/index1.html?source=t\xC3\xA4g");
    ASSERT_FALSE(seen.empty());
    EXPECT_EQ(seen.front(), "http://127.0.0.1:9/quorvl/index1.html?source=t\xC3\xA4g");
}

TEST_F(ControlSite, ExitOrderTakesTheWindowFirstThenReleasesTheControl) {
    auto site = std::make_unique<TOleControlSite>(96);
    site->Attach(parent.Get());
    const HWND control = site->ControlWindow();
    EXPECT_GT(site->References(), 0u);  // the control holds the client site
    parent.Reset();
    EXPECT_FALSE(::IsWindow(control));
    EXPECT_EQ(site->ControlWindow(), nullptr);  // gone with its window: nothing to restore
    site.reset();
}

// The answers of the site's own interfaces, with the control created but
// not yet attached.
class SiteAnswers : public ControlSite {
protected:
    TOleControlSite site{96};
};

TEST_F(SiteAnswers, ImplementsExactlyTheSiteInterfaces) {
    for (const IID* iid : {&IID_IUnknown, &IID_IOleClientSite, &IID_IOleWindow, &IID_IOleInPlaceSite,
                           &IID_IOleInPlaceUIWindow, &IID_IOleInPlaceFrame, &IID_IOleControlSite, &IID_IDispatch,
                           &IID_IPropertyNotifySink, &IID_ISimpleFrameSite, &IID_IServiceProvider}) {
        IUnknown* object = nullptr;
        EXPECT_EQ(site.QueryInterface(*iid, reinterpret_cast<void**>(&object)), S_OK);
        ASSERT_NE(object, nullptr);
        object->Release();
    }
    // No document-host customisation: the browser keeps its own defaults.
    const IID docHostUIHandler = {0xBD3F23C0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};
    for (const IID* iid : {&docHostUIHandler, &IID_IOleContainer, &IID_IOleCommandTarget, &IID_IOleObject}) {
        void* object = reinterpret_cast<void*>(1);
        EXPECT_EQ(site.QueryInterface(*iid, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
}

TEST_F(SiteAnswers, WindowContextIsTheFrameTheBoundsAndTheFixedClip) {
    site.Attach(parent.Get());
    IOleInPlaceFrame* frame = nullptr;
    IOleInPlaceUIWindow* document = reinterpret_cast<IOleInPlaceUIWindow*>(1);
    RECT position{}, clip{};
    OLEINPLACEFRAMEINFO info{};
    info.cb = sizeof info;
    ASSERT_EQ(site.GetWindowContext(&frame, &document, &position, &clip, &info), S_OK);
    EXPECT_EQ(frame, static_cast<IOleInPlaceFrame*>(&site));
    frame->Release();
    EXPECT_EQ(document, nullptr);
    EXPECT_EQ(position.left, site.Bounds().left);
    EXPECT_EQ(position.right, site.Bounds().right);
    EXPECT_EQ(clip.left, 0);
    EXPECT_EQ(clip.top, 0);
    EXPECT_EQ(clip.right, 32767);
    EXPECT_EQ(clip.bottom, 32767);
    EXPECT_FALSE(info.fMDIApp);
    EXPECT_EQ(info.hwndFrame, parent.Get());
    EXPECT_EQ(info.haccel, nullptr);
    EXPECT_EQ(info.cAccelEntries, 0u);
    HWND window = nullptr;
    EXPECT_EQ(static_cast<IOleInPlaceSite&>(site).GetWindow(&window), S_OK);
    EXPECT_EQ(window, parent.Get());
}

TEST_F(SiteAnswers, FrameHasNoToolsNoMenuAndNoAccelerators) {
    RECT border{};
    EXPECT_EQ(site.GetBorder(&border), INPLACE_E_NOTOOLSPACE);
    EXPECT_EQ(site.RequestBorderSpace(nullptr), INPLACE_E_NOTOOLSPACE);
    EXPECT_EQ(site.SetBorderSpace(nullptr), E_NOTIMPL);
    MSG message{};
    EXPECT_EQ(static_cast<IOleInPlaceFrame&>(site).TranslateAccelerator(&message, 0), S_FALSE);
    EXPECT_EQ(static_cast<IOleControlSite&>(site).TranslateAccelerator(&message, 0), E_NOTIMPL);
    EXPECT_EQ(site.SetMenu(nullptr, nullptr, nullptr), S_OK);
    IMoniker* moniker = nullptr;
    EXPECT_EQ(site.GetMoniker(0, 0, &moniker), E_NOTIMPL);
    IOleContainer* container = nullptr;
    EXPECT_EQ(site.GetContainer(&container), E_NOINTERFACE);
    void* service = reinterpret_cast<void*>(1);
    EXPECT_EQ(site.QueryService(IID_IUnknown, IID_IUnknown, &service), E_NOTIMPL);
    EXPECT_EQ(service, nullptr);
    EXPECT_EQ(site.Scroll(SIZE{1, 1}), E_NOTIMPL);
}

TEST_F(SiteAnswers, AmbientPropertiesAnswerReadsOfTheirTableOnly) {
    auto read = [&](DISPID dispid, VARIANT& value) {
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        return site.Invoke(dispid, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr);
    };
    const struct {
        DISPID Id;
        bool Value;
    } flags[] = {{-706, true}, {-709, true}, {-710, false}, {-711, false}, {-712, false}, {-714, true}, {-715, true}};
    for (const auto& f : flags) {
        VARIANT v;
        ASSERT_EQ(read(f.Id, v), S_OK) << f.Id;
        EXPECT_EQ(v.vt, VT_BOOL) << f.Id;
        EXPECT_EQ(v.boolVal, f.Value ? VARIANT_TRUE : VARIANT_FALSE) << f.Id;
    }
    VARIANT locale;
    ASSERT_EQ(read(-705, locale), S_OK);
    EXPECT_EQ(locale.vt, VT_I4);
    EXPECT_EQ(static_cast<LCID>(locale.lVal), ::GetUserDefaultLCID());
    VARIANT name;
    ASSERT_EQ(read(-702, name), S_OK);
    ASSERT_EQ(name.vt, VT_BSTR);
    EXPECT_EQ(::SysStringLen(name.bstrVal), 0u);
    ::VariantClear(&name);
    VARIANT font;
    ASSERT_EQ(read(-703, font), S_OK);
    ASSERT_EQ(font.vt, VT_DISPATCH);
    auto fontObject = TComPtr<IFont>::From(font.pdispVal, IID_IFont);
    ASSERT_TRUE(fontObject);
    BSTR face = nullptr;
    ASSERT_EQ(fontObject->get_Name(&face), S_OK);
    EXPECT_EQ(std::wstring(face), L"Tahoma");
    ::SysFreeString(face);
    ::VariantClear(&font);
    for (DISPID colour : {-701, -704}) {
        VARIANT v;
        ASSERT_EQ(read(colour, v), S_OK);
        EXPECT_EQ(v.vt, VT_I4);
    }

    VARIANT v;
    EXPECT_EQ(read(-707, v), DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(read(250, v), DISP_E_MEMBERNOTFOUND);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(site.Invoke(-709, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, &v, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
    EXPECT_EQ(site.Invoke(-709, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

TEST_F(SiteAnswers, FontCopiedFromTheControlIsTheHostsFontFromThenOn) {
    FONTDESC description{};
    description.cbSizeofstruct = sizeof description;
    description.lpstrName = const_cast<LPOLESTR>(L"Arial");
    description.cySize.int64 = 12 * 10000;
    description.sWeight = FW_BOLD;
    TComPtr<IDispatch> font;
    ASSERT_EQ(::OleCreateFontIndirect(&description, IID_IFontDisp, font.PutVoid()), S_OK);
    VARIANT changed;
    changed.vt = VT_DISPATCH;
    changed.pdispVal = font.Get();
    site.CopyControlProperty(-512, changed);
    for (int read = 0; read < 2; ++read) {
        VARIANT value;
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        ASSERT_EQ(site.Invoke(-703, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &value, nullptr, nullptr), S_OK);
        ASSERT_EQ(value.vt, VT_DISPATCH);
        EXPECT_EQ(value.pdispVal, font.Get()) << read;
        ::VariantClear(&value);
    }
}

TEST_F(SiteAnswers, TransformCoordsConvertsHimetricAndPixelsAtTheScreensResolution) {
    POINTL himetric{2540, 1270};
    POINTF pixels{0, 0};
    ASSERT_EQ(site.TransformCoords(&himetric, &pixels, XFORMCOORDS_HIMETRICTOCONTAINER | XFORMCOORDS_SIZE), S_OK);
    EXPECT_EQ(pixels.x, 96.0f);
    EXPECT_EQ(pixels.y, 48.0f);
    pixels = POINTF{10.0f, 1.0f};
    ASSERT_EQ(site.TransformCoords(&himetric, &pixels, XFORMCOORDS_CONTAINERTOHIMETRIC | XFORMCOORDS_POSITION), S_OK);
    EXPECT_EQ(himetric.x, 265);  // 264.58 to the nearest
    EXPECT_EQ(himetric.y, 26);   // 26.46
}

TEST(HimetricConversions, RoundToTheNearestPixelOrUnit) {
    EXPECT_EQ(HimetricToPixels(25877, 96), 978);
    EXPECT_EQ(PixelsToHimetric(978, 96), 25876);  // 25876.25
    EXPECT_EQ(PixelsToHimetric(727, 120), 15388);  // 15387.67
}

}  // namespace
}  // namespace quorvel::win
