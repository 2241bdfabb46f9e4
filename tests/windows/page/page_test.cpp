// The Windows anchor page driven as a user drives it: typing, clicking and choosing send its
// controls the messages a user's input makes, and the form logic must write each edit into
// the working record, mark the page dirty and leave the element's record to Apply.
#include "CRVAnchorCom.h"
#include "CRVAnchorTypeLib.h"
#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "propertypage/AnchorPropertyPage.h"
#include "standalone/host/StandaloneHost.h"
#include "windows/boundary/Values.h"
#include "windows/page/Win32Controls.h"
#include "windows/platform/Guids.h"
#include "windows/platform/Text.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>

namespace crv::testing {
namespace {

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Public: the table of edits below drives it from lambdas.
class WindowsPage : public ::testing::Test {
public:
    ~WindowsPage() override {
        if (page_) page_->Deactivate();
    }

    // An element with a record, and its page opened as a host's sheet opens it.
    void Open(const std::map<std::string, Variant>& keys) {
        if (page_) page_->Deactivate();
        element_ = host_.AddText("Title", {1, 2, 3, 4});
        ComPtr<PropertyBag> record = GeneralFunctions::NewAnchorProperties();
        for (const auto& [k, v] : keys) record->SetProperty(k, v);
        GeneralFunctions::SetAnchorProperties(element_, record);
        page_ = ComPtr<AnchorPropertyPage>(new AnchorPropertyPage());
        site_ = ComPtr<objects::PageSiteImpl>(new objects::PageSiteImpl());
        page_->SetPageSite(ComPtr<PropertyPageSite>(site_));
        page_->SetObjects(host_.Selection({ComPtr<Unknown>(element_)}));
        page_->Activate();
        page_->Show();
    }

    HWND Control(const char* name) {
        const HWND control = controls::FindControl(page_->Form().Window(), name);
        if (control == nullptr) ADD_FAILURE() << "no control " << name;
        return control;
    }
    // Selects all and types, one character at a time.
    void Type(const char* box, const std::string& text) {
        const HWND edit = Control(box);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        for (wchar_t c : win::Wide(text)) SendMessageW(edit, WM_CHAR, c, 0);
    }
    void Click(const char* button) { SendMessageW(Control(button), BM_CLICK, 0, 0); }
    // The choice, and the control's report of it to the page.
    void Choose(const char* list, const std::string& entry) {
        const HWND control = Control(list);
        const bool combo = SendMessageW(control, CB_GETCOUNT, 0, 0) > 0;
        const std::wstring wide = win::Wide(entry);
        const LRESULT index = SendMessageW(control, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT,
                                           static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wide.c_str()));
        ASSERT_GE(index, 0) << entry;
        SendMessageW(control, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(GetParent(control), WM_COMMAND,
                     MAKEWPARAM(GetDlgCtrlID(control), combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control));
    }
    // The tab clicked, and the tab control's report of it.
    void ClickTab(int index) {
        const HWND tabs = Control("sstabAnchorProperties");
        SendMessageW(tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
        NMHDR header{tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)), static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(GetParent(tabs), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    }
    int ShownTab() { return static_cast<int>(SendMessageW(Control("sstabAnchorProperties"), TCM_GETCURSEL, 0, 0)); }
    // Whether the tab page holding the control is the one shown.
    bool OnShownPage(const char* control) {
        return (GetWindowLongPtrW(GetParent(Control(control)), GWL_STYLE) & WS_VISIBLE) != 0;
    }

    Variant Working(const char* key) { return page_->Form().WorkingProperties->GetProperty(key); }
    Variant Stored(const char* key) { return GeneralFunctions::GetAnchorProperties(element_)->GetProperty(key); }
    int Notifications() const { return site_->Notifications(); }

    RecordingErrorSink sink_;
    ScopedErrorSink scope_{sink_};
    standalone::StandaloneHost host_;
    ComPtr<LayoutElement> element_;
    ComPtr<AnchorPropertyPage> page_;
    ComPtr<objects::PageSiteImpl> site_;
};

TEST_F(WindowsPage, EachEditIsWrittenBackAndReachesTheElementOnlyByApply) {
    host_.AddText("Legend", {5, 5, 7, 9});
    const struct {
        const char* what;
        std::function<void(WindowsPage&)> edit;
        const char* key;
        Variant expected;
    } cases[] = {
        {"typing a distance", [](WindowsPage& t) { t.Type("txtHDistanceAll", "-12.5"); }, key::HDistanceAll,
         Variant("-12.5")},
        {"clearing the anchor box", [](WindowsPage& t) { t.Click("chkAnchor"); }, key::AnchorElement, Variant(false)},
        {"choosing a priority", [](WindowsPage& t) { t.Choose("cmbAnchorPriority", "HIGH"); }, key::AnchorPriority,
         Variant(kPriorityHigh)},
        {"anchoring to an element",
         [](WindowsPage& t) {
             t.Click("OptAnchorTo_1");
             t.Choose("lstElementNames", "Legend");
         },
         key::ElementName, Variant("Legend")},
        {"turning alternate anchoring on", [](WindowsPage& t) { t.Click("optMultiPage_1"); }, key::UseAltAnchoring,
         Variant(true)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Open({{key::AnchorElement, true}});
        EXPECT_FALSE(page_->IsPageDirty());
        c.edit(*this);
        EXPECT_TRUE(page_->IsPageDirty());
        EXPECT_GT(Notifications(), 0);
        EXPECT_EQ(Working(c.key), c.expected);
        EXPECT_FALSE(Stored(c.key) == c.expected);
        page_->Apply();
        EXPECT_EQ(Stored(c.key), c.expected);
    }
    EXPECT_TRUE(sink_.reports.empty());
}

// A box's change event fires on every keystroke and once for a change made by code, not once
// more for the edit control's own report of it; a click on the option that is on is no edit.
TEST_F(WindowsPage, EveryKeystrokeIsAnEditAndCodeFillingABoxIsOne) {
    Open({{key::AnchorElement, true}});
    Click("OptAnchorTo_0");
    EXPECT_EQ(Notifications(), 0);
    Type("txtVDistanceAll", "1.25");
    EXPECT_EQ(Notifications(), 4);
    page_->Hide();
    page_->Show();
    EXPECT_EQ(Notifications(), 4);

    // The alternate lists are the mirror already: the command changes the two boxes only.
    Open({{key::HDistanceAll, 0.25},
          {key::VDistanceAll, 0.5},
          {key::AnchorFromAlt, int16_t{2}},
          {key::AnchorToAlt, int16_t{2}}});
    Click("cmdMakeHorizontalOpposite");
    EXPECT_EQ(Notifications(), 3);
    EXPECT_EQ(Working(key::HDistanceAlt), Variant("-0.25"));
    EXPECT_EQ(Working(key::VDistanceAlt), Variant("0.5"));
    EXPECT_TRUE(sink_.reports.empty());
}

// A record that asks for an entry past the end of a list is reported when the page fills,
// with error 380, and the page then writes nothing back.
TEST_F(WindowsPage, AnIndexPastTheEndOfAListIsRefused) {
    const std::pair<const char*, Variant> cases[] = {{key::AnchorPriority, Variant(int16_t{3})},
                                                     {key::AnchorToAll, Variant(int16_t{9})}};
    for (const auto& [k, value] : cases) {
        SCOPED_TRACE(k);
        sink_.reports.clear();
        Open({{k, value}});
        ASSERT_EQ(sink_.reports.size(), 1u);
        const std::string& text = sink_.reports[0].text;
        EXPECT_TRUE(Contains(text, "\tPopulateForm CRVAnchor:frmAnchorPropertyPage \r\n")) << text;
        EXPECT_TRUE(Contains(text, "\t380\r\n") && Contains(text, "Invalid property value")) << text;
        Click("chkAnchor");
        EXPECT_EQ(Notifications(), 0);
        EXPECT_FALSE(page_->IsPageDirty());
    }
}

TEST_F(WindowsPage, TheAlternateTabOpensOnlyWithAlternateAnchoring) {
    Open({{key::UseAltAnchoring, false}});
    ClickTab(2);
    EXPECT_EQ(ShownTab(), 0);
    EXPECT_TRUE(OnShownPage("chkAnchor"));
    Click("optMultiPage_1");
    ClickTab(2);
    EXPECT_EQ(ShownTab(), 2);
    EXPECT_TRUE(OnShownPage("cmbAnchorFromAlt"));
    EXPECT_FALSE(OnShownPage("chkAnchor"));
}

// The library's class for the page makes the page over the platform's controls: through the
// library's own class object, a page that names itself and hands out its window.
TEST(WindowsPageClass, TheLibraryMakesThePageWithItsWindow) {
    std::wstring path = L"Z:" + win::Wide(CRV_LIBRARY_PATH);
    for (wchar_t& c : path) c = c == L'/' ? L'\\' : c;
    const HMODULE library = LoadLibraryW(path.c_str());
    ASSERT_NE(library, nullptr);
    using GetClassObject = HRESULT(WINAPI*)(REFCLSID, REFIID, void**);
    const auto get =
        reinterpret_cast<GetClassObject>(reinterpret_cast<void*>(GetProcAddress(library, "DllGetClassObject")));
    ASSERT_NE(get, nullptr);
    const GUID clsid = win::ToGUID(typelib::kClsidAnchorPropertyPage);
    const GUID iid = win::ToGUID(IComPropertyPage::IID);
    IClassFactory* factory = nullptr;
    ASSERT_EQ(get(clsid, IID_IClassFactory, reinterpret_cast<void**>(&factory)), S_OK);
    ICrvComPropertyPage* page = nullptr;
    EXPECT_EQ(factory->CreateInstance(nullptr, iid, reinterpret_cast<void**>(&page)), S_OK);
    factory->Release();
    ASSERT_NE(page, nullptr);
    BSTR title = nullptr;
    EXPECT_EQ(page->get_Title(&title), S_OK);
    EXPECT_EQ(win::TakeBstr(title), "Anchor");
    LONGLONG handle = 0;
    EXPECT_EQ(page->Activate(&handle), S_OK);
    const auto window = reinterpret_cast<HWND>(handle);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_NE(FindWindowExW(window, nullptr, WC_TABCONTROLW, nullptr), nullptr);
    long width = 0;
    EXPECT_EQ(page->get_Width(&width), S_OK);
    EXPECT_GT(width, 0);
    EXPECT_EQ(page->Deactivate(), S_OK);
    page->Release();
}

}  // namespace
}  // namespace crv::testing
