// A program that hosts the standalone host's objects calls the component through the platform's
// object runtime: the manager comes from the registered library, the host's classes are offered
// to the process, and every call crosses real COM both ways.
#include "CRVAnchorCom.h"
#include "CRVAnchorTypeLib.h"
#include "anchor/AnchorRecord.h"
#include "objects/GenericObjects.h"
#include "standalone/host/StandaloneHost.h"
#include "windows/boundary/ClassObject.h"
#include "windows/boundary/Errors.h"
#include "windows/boundary/Identity.h"
#include "windows/boundary/Values.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include <string>
#include <vector>

namespace crv {
namespace {

using objects::Rect;
using standalone::StandaloneHost;

class ComClientTest : public ::testing::Test {
protected:
    ComClientTest() {
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        // The host's classes, offered to the process as a running application offers them.
        for (const Guid& id : {clsid::HostApplication, clsid::PropertyBag, clsid::Envelope, clsid::Polygon,
                               clsid::GeometryPoint, clsid::ObjectCopier, clsid::HostUID, clsid::MapSeriesFrame,
                               clsid::ActiveLayoutInfo, clsid::SeriesLayoutInfo, clsid::SectionTemplateInfo}) {
            if (!ClassTable::Instance().IsRegistered(id)) continue;
            IClassFactory* object = win::NewClassObject(id, [id] { return CreateObject<Unknown>(id); });
            DWORD cookie = 0;
            EXPECT_EQ(CoRegisterClassObject(win::ToGUID(id), object, CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &cookie),
                      S_OK);
            object->Release();
            cookies_.push_back(cookie);
        }
        const HRESULT hr = CoCreateInstance(win::ToGUID(typelib::kClsidCRVAnchorManager), nullptr, CLSCTX_INPROC_SERVER,
                                            win::ToGUID(crv::_CRVAnchorManager::IID), manager_.Out());
        EXPECT_EQ(hr, S_OK) << "the library is not registered";
    }
    ~ComClientTest() override {
        for (DWORD cookie : cookies_) CoRevokeClassObject(cookie);
    }

    // A caller's variable holding the element, which the manager takes by reference.
    ICrvLayoutElement** Out(const ComPtr<LayoutElement>& element) {
        elements_.push_back(static_cast<ICrvLayoutElement*>(win::Outgoing(ComPtr<Unknown>(element), LayoutElement::IID)));
        return &elements_.back();
    }

    // The record the library makes, given through the library to the element.
    ComPtr<PropertyBag> GiveRecord(const ComPtr<LayoutElement>& element, const std::map<std::string, Variant>& keys) {
        ICrvPropertyBag* bag = nullptr;
        EXPECT_EQ(manager_->MakeAnchorProperties(&bag), S_OK);
        const ComPtr<PropertyBag> record = win::TakeCom<PropertyBag>(bag);
        for (const auto& [k, v] : keys) record->SetProperty(k, v);
        ICrvPropertyBag* back = win::ToCom<ICrvPropertyBag>(record);
        EXPECT_EQ(manager_->AddAnchorProperties(Out(element), &back), S_OK);
        back->Release();
        return record;
    }

    StandaloneHost host_;
    win::ComRef<::_CRVAnchorManager> manager_;
    std::vector<DWORD> cookies_;
    std::deque<ICrvLayoutElement*> elements_;

public:
    void TearDown() override {
        for (ICrvLayoutElement* p : elements_) p->Release();
    }
};

TEST_F(ComClientTest, ObjectsKeepTheirIdentityAcrossTheBoundary) {
    // The record is made by the library through the host's class: what comes back is the
    // host's own bag, not a wrapper of a wrapper.
    ICrvPropertyBag* bag = nullptr;
    ASSERT_EQ(manager_->MakeAnchorProperties(&bag), S_OK);
    const ComPtr<PropertyBag> record = win::TakeCom<PropertyBag>(bag);
    EXPECT_TRUE(ComPtr<objects::BagContents>::Query(record)) << "the bag came back as a proxy";
    // The same object goes out as the same COM identity, whatever is asked of it.
    IUnknown* a = win::Outgoing(ComPtr<Unknown>(record), Unknown::IID);
    IUnknown* b = win::Outgoing(ComPtr<Unknown>(record), PropertyBag::IID);
    IUnknown* b_identity = nullptr;
    b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&b_identity));
    EXPECT_EQ(a, b_identity);
    for (IUnknown* p : {a, b, b_identity}) p->Release();
    // And the library's manager comes in once, as one proxy.
    EXPECT_EQ(win::Incoming(manager_.Get()).Get(), win::Incoming(manager_.Get()).Get());
}

TEST_F(ComClientTest, TheLibraryPlacesAnElementAsTheEngineDoesInProcess) {
    struct Case {
        int16_t from;  // point codes: 2 top right, 6 bottom left, 4 centre
        int16_t to;
        double h, v;
        int32_t page;
    };
    for (const Case& c : {Case{2, 2, -0.5, -0.25, 1}, Case{6, 6, 0.2, 0.3, 2}, Case{4, 4, 0, 0, 3}}) {
        SCOPED_TRACE(kPointLabels[static_cast<size_t>(c.from)]);
        const std::map<std::string, Variant> keys = {{key::AnchorElement, true},
                                                     {key::AnchorFromAll, c.from},
                                                     {key::AnchorToAll, c.to},
                                                     {key::HDistanceAll, c.h},
                                                     {key::VDistanceAll, c.v}};
        // Through the library.
        const auto element =
            host_.AddText(std::string("Title ") + kPointLabels[static_cast<size_t>(c.from)], Rect{1, 1, 3, 1.5});
        GiveRecord(element, keys);
        ASSERT_EQ(manager_->SetAnchorElement(Out(element)), S_OK);
        LONG page = c.page;
        ASSERT_EQ(manager_->AnchorElement(&page), S_OK);
        // The engine linked into this program, on a twin.
        const auto twin =
            host_.AddText(std::string("Twin ") + kPointLabels[static_cast<size_t>(c.from)], Rect{1, 1, 3, 1.5});
        auto local = MakeCom<crv::_CRVAnchorManager, CRVAnchorManager>();
        auto record = local->MakeAnchorProperties();
        for (const auto& [k, v] : keys) record->SetProperty(k, v);
        local->AddAnchorProperties(twin, record);
        local->SetAnchorElement(twin);
        local->AnchorElement(c.page);
        EXPECT_EQ(StandaloneHost::BoundsOf(element), StandaloneHost::BoundsOf(twin));
        EXPECT_NE(StandaloneHost::BoundsOf(element), (Rect{1, 1, 3, 1.5}));
        short priority = -1;
        ASSERT_EQ(manager_->AnchorPriority(Out(element), &priority), S_OK);
        EXPECT_EQ(priority, local->AnchorPriority(twin));
    }
}

TEST_F(ComClientTest, LateBoundCallsTakeScriptArgumentsAndRefuseBadOnes) {
    const auto element = host_.AddText("Note", Rect{1, 1, 2, 2});
    GiveRecord(element, {{key::AnchorElement, true}, {key::AnchorPriority, int16_t{2}}});
    win::ComRef<IDispatch> dispatch;
    ASSERT_EQ(manager_->QueryInterface(IID_IDispatch, dispatch.Out()), S_OK);
    auto id = [&](const wchar_t* name) {
        DISPID out = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
        const HRESULT hr = dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &out);
        return hr == S_OK ? out : static_cast<DISPID>(hr);
    };
    EXPECT_EQ(id(L"anchorPRIORITY"), 4);  // names compare without regard to case
    EXPECT_EQ(id(L"NoSuchMember"), DISP_E_UNKNOWNNAME);
    // The interface id of a late-bound call is reserved: any other than IID_NULL is refused.
    {
        DISPID out = 0;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"AnchorPriority")};
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_IDispatch, names, 1, 0, &out), DISP_E_UNKNOWNINTERFACE);
        DISPPARAMS none{nullptr, nullptr, 0, 0};
        EXPECT_EQ(dispatch->Invoke(4, IID_IDispatch, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
                  DISP_E_UNKNOWNINTERFACE);
    }

    // A script passes its variables by reference, as variants; `after` sees them after the call.
    UINT bad = 99;
    auto call = [&](DISPID member, std::vector<VARIANT> args, VARIANT* result,
                    const std::function<void(std::vector<VARIANT>&)>& after = {}) {
        std::vector<VARIANT> refs(args.size());
        for (size_t i = 0; i < args.size(); ++i) {
            V_VT(&refs[i]) = VT_BYREF | VT_VARIANT;
            V_VARIANTREF(&refs[i]) = &args[i];
        }
        DISPPARAMS params{refs.data(), nullptr, static_cast<UINT>(refs.size()), 0};
        EXCEPINFO exception{};
        bad = 99;
        const HRESULT hr = dispatch->Invoke(member, IID_NULL, 0, DISPATCH_METHOD, &params, result, &exception, &bad);
        SysFreeString(exception.bstrSource);
        SysFreeString(exception.bstrDescription);
        SysFreeString(exception.bstrHelpFile);
        if (after) after(args);
        for (VARIANT& v : args) VariantClear(&v);
        return hr;
    };
    VARIANT element_arg;
    V_VT(&element_arg) = VT_DISPATCH;
    V_DISPATCH(&element_arg) = static_cast<IDispatch*>(*Out(element));
    V_DISPATCH(&element_arg)->AddRef();
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(call(4, {element_arg}, &result), S_OK);
    EXPECT_EQ(V_VT(&result), VT_I2);
    EXPECT_EQ(V_I2(&result), 2);

    // AnchorElement(PageNumber) takes its page by reference, typed.
    GiveRecord(element, {{key::AnchorElement, true}, {key::AnchorFromAll, int16_t{0}}, {key::AnchorToAll, int16_t{0}}});
    ASSERT_EQ(manager_->SetAnchorElement(Out(element)), S_OK);
    VARIANT page;
    V_VT(&page) = VT_I4;
    V_I4(&page) = 2;
    EXPECT_EQ(call(5, {page}, nullptr), S_OK);
    EXPECT_EQ(StandaloneHost::BoundsOf(element).xmin, 0);
    // A script's 1.5 for the page is read as page 2, and its variable keeps 1.5.
    VARIANT half;
    V_VT(&half) = VT_R8;
    V_R8(&half) = 1.5;
    EXPECT_EQ(call(5, {half}, nullptr, [](std::vector<VARIANT>& args) {
                  EXPECT_EQ(V_VT(&args[0]), VT_R8);
                  EXPECT_EQ(V_R8(&args[0]), 1.5);
              }),
              S_OK);

    struct Bad {
        DISPID member;
        std::vector<VARIANT> args;
        HRESULT expected;
    };
    VARIANT text;
    V_VT(&text) = VT_BSTR;
    V_BSTR(&text) = SysAllocString(L"not an element");
    for (Bad& b : std::vector<Bad>{{4, {text}, DISP_E_TYPEMISMATCH}, {4, {}, DISP_E_BADPARAMCOUNT}}) {
        EXPECT_EQ(call(b.member, b.args, nullptr), b.expected);
    }
    // A mismatch names its argument, counted from the last as the caller passes them. An array,
    // which no member takes, is a mismatch too (a script's error 13); so is an object of another
    // kind than the member's parameter.
    auto other = [] {
        VARIANT v;
        V_VT(&v) = VT_BSTR;
        V_BSTR(&v) = SysAllocString(L"not an element");
        return v;
    };
    auto array = [] {
        VARIANT v;
        V_VT(&v) = VT_ARRAY | VT_VARIANT;
        V_ARRAY(&v) = SafeArrayCreateVector(VT_VARIANT, 0, 2);
        return v;
    };
    ICrvPropertyBag* record = nullptr;
    ASSERT_EQ(manager_->MakeAnchorProperties(&record), S_OK);
    const win::ComRef<ICrvPropertyBag> owned(record);
    auto bag = [&] {
        VARIANT v;
        V_VT(&v) = VT_DISPATCH;
        V_DISPATCH(&v) = record;
        record->AddRef();
        return v;
    };
    struct Mismatch {
        const char* what;
        DISPID member;
        std::vector<VARIANT> args;
        UINT named;
    };
    for (Mismatch& m : std::vector<Mismatch>{{"text for AnchorPriority's element", 4, {other()}, 0},
                                             {"an array for AnchorElement's page", 5, {array()}, 0},
                                             {"a record for AnchorPriority's element", 4, {bag()}, 0},
                                             {"a record for AddAnchorProperties' element", 7, {bag(), bag()}, 1}}) {
        SCOPED_TRACE(m.what);
        EXPECT_EQ(call(m.member, m.args, nullptr), DISP_E_TYPEMISMATCH);
        EXPECT_EQ(bad, m.named);
    }
    // An argument the caller marks as left out, where the member needs one, is refused as not
    // optional and named, as the platform's own dispatch refuses it.
    VARIANT left_out;
    V_VT(&left_out) = VT_ERROR;
    V_ERROR(&left_out) = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(call(7, {bag(), left_out}, nullptr), DISP_E_PARAMNOTOPTIONAL);
    EXPECT_EQ(bad, 1u);
}

TEST_F(ComClientTest, ErrorsCrossAsErrorObjects) {
    // An object that is no element, where the library wants one: refused by the boundary with
    // the platform's result and an error object that says so.
    ICrvPropertyBag* bag = nullptr;
    ASSERT_EQ(manager_->MakeAnchorProperties(&bag), S_OK);
    VARIANT_BOOL is = VARIANT_TRUE;
    ICrvLayoutElement* not_an_element = reinterpret_cast<ICrvLayoutElement*>(bag);
    EXPECT_EQ(manager_->IsAnchorElement(&not_an_element, &is), E_NOINTERFACE);
    bag->Release();
    IErrorInfo* info = nullptr;
    ASSERT_EQ(GetErrorInfo(0, &info), S_OK);
    BSTR description = nullptr;
    info->GetDescription(&description);
    info->Release();
    EXPECT_EQ(win::TakeBstr(description), "No such interface supported");
    win::ComRef<ISupportErrorInfo> supports;
    ASSERT_EQ(manager_->QueryInterface(IID_ISupportErrorInfo, supports.Out()), S_OK);
    EXPECT_EQ(supports->InterfaceSupportsErrorInfo(win::ToGUID(crv::_CRVAnchorManager::IID)), S_OK);

    // Our own numbers go out in the control facility, as scripts show them, and come back in
    // through a proxy as the same number, source and text.
    class Failing final : public ComObject<HostUID> {
    public:
        void SetValue(const std::string&) override { Raise(13, "TestHost", "Type mismatch"); }
        std::string Value() override { return {}; }
    };
    const ComPtr<HostUID> failing = MakeCom<HostUID, Failing>();
    ICrvHostUID* out = win::ToCom<ICrvHostUID>(failing);
    BSTR value = SysAllocString(L"x");
    const HRESULT hr = out->put_Value(value);
    SysFreeString(value);
    out->Release();
    EXPECT_EQ(hr, static_cast<HRESULT>(0x800A000Du));
    try {
        win::Check(hr, "HostUID.SetValue");  // what every proxy does with a failed call
        ADD_FAILURE() << "no error raised";
    } catch (const ComError& e) {
        EXPECT_EQ(e.Number(), 13);
        EXPECT_EQ(e.Source(), "TestHost");
        EXPECT_EQ(e.Description(), "Type mismatch");
    }
}

TEST_F(ComClientTest, TheLibraryMayUnloadOnceItsObjectsAreReleased) {
    const auto element = host_.AddText("Scale", Rect{1, 1, 2, 2});
    GiveRecord(element, {{key::AnchorElement, true}});
    ASSERT_EQ(manager_->SetAnchorElement(Out(element)), S_OK);
    using CanUnloadNow = HRESULT(STDAPICALLTYPE*)();
    // Through a plain pointer: the platform types every entry point alike.
    const auto canUnload = reinterpret_cast<CanUnloadNow>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"CRVAnchor.dll"), "DllCanUnloadNow")));
    ASSERT_NE(canUnload, nullptr);
    EXPECT_EQ(canUnload(), S_FALSE) << "unloadable while a manager is held";
    manager_.Get()->Release();
    *manager_.Out() = nullptr;
    EXPECT_EQ(canUnload(), S_OK) << "objects of the library outlive their last reference";
}

}  // namespace
}  // namespace crv
