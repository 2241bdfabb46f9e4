// The Windows anchor page driven as a user drives it: typing, clicking and choosing send its
// controls the messages a user's input makes, and the form logic must write each edit into
// the working record, mark the page dirty and leave the element's record to Apply.
#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "propertypage/AnchorPropertyPage.h"
#include "standalone/host/StandaloneHost.h"
#include "windows/page/Win32Controls.h"
#include "windows/platform/Text.h"

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <map>
#include <string>

namespace crv::testing {
namespace {

int g_passed = 0;
int g_failed = 0;

void Check(bool ok, const std::string& what) {
    if (ok) {
        ++g_passed;
    } else {
        ++g_failed;
        std::printf("FAILED: %s\n", what.c_str());
    }
}

bool Contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// An element with a record, and its anchor page opened as a host's sheet opens it.
class OpenPage {
public:
    explicit OpenPage(const std::map<std::string, Variant>& keys) {
        element_ = host_.AddText("Title", {1, 2, 3, 4});
        host_.AddText("Legend", {5, 5, 7, 9});
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
    ~OpenPage() { page_->Deactivate(); }
    OpenPage(const OpenPage&) = delete;
    OpenPage& operator=(const OpenPage&) = delete;

    HWND Control(const char* name) { return controls::FindControl(page_->Form().Window(), name); }

    // Selects all and types, one character at a time.
    void Type(const char* box, const std::string& text) {
        const HWND edit = Control(box);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        if (text.empty()) SendMessageW(edit, WM_CLEAR, 0, 0);
        for (wchar_t c : win::Wide(text)) SendMessageW(edit, WM_CHAR, c, 0);
    }
    void Click(const char* button) { SendMessageW(Control(button), BM_CLICK, 0, 0); }
    // What a list reports when the user picks an entry.
    void Choose(const char* list, const std::string& entry) {
        const HWND control = Control(list);
        const std::wstring wide = win::Wide(entry);
        const bool combo = SendMessageW(control, CB_GETCOUNT, 0, 0) > 0;
        const auto index = SendMessageW(control, combo ? CB_FINDSTRINGEXACT : LB_FINDSTRINGEXACT,
                                        static_cast<WPARAM>(-1), reinterpret_cast<LPARAM>(wide.c_str()));
        SendMessageW(control, combo ? CB_SETCURSEL : LB_SETCURSEL, static_cast<WPARAM>(index), 0);
        SendMessageW(GetParent(control), WM_COMMAND,
                     MAKEWPARAM(GetDlgCtrlID(control), combo ? CBN_SELCHANGE : LBN_SELCHANGE),
                     reinterpret_cast<LPARAM>(control));
    }
    // What the tab control reports when the user clicks a tab.
    void ClickTab(int index) {
        const HWND tabs = Control("sstabAnchorProperties");
        SendMessageW(tabs, TCM_SETCURSEL, static_cast<WPARAM>(index), 0);
        NMHDR header{tabs, static_cast<UINT_PTR>(GetDlgCtrlID(tabs)), static_cast<UINT>(TCN_SELCHANGE)};
        SendMessageW(GetParent(tabs), WM_NOTIFY, header.idFrom, reinterpret_cast<LPARAM>(&header));
    }
    int ShownTab() { return static_cast<int>(SendMessageW(Control("sstabAnchorProperties"), TCM_GETCURSEL, 0, 0)); }

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

void EachEditIsWrittenBackAndAppliedOnlyByApply() {
    const struct {
        const char* what;
        std::function<void(OpenPage&)> edit;
        const char* key;
        Variant expected;
    } cases[] = {
        {"typing a distance", [](OpenPage& p) { p.Type("txtHDistanceAll", "-12.5"); }, key::HDistanceAll,
         Variant("-12.5")},
        {"clearing the anchor box", [](OpenPage& p) { p.Click("chkAnchor"); }, key::AnchorElement, Variant(false)},
        {"choosing a priority", [](OpenPage& p) { p.Choose("cmbAnchorPriority", "HIGH"); }, key::AnchorPriority,
         Variant(kPriorityHigh)},
        {"anchoring to an element",
         [](OpenPage& p) {
             p.Click("OptAnchorTo_1");
             p.Choose("lstElementNames", "Legend");
         },
         key::ElementName, Variant("Legend")},
        {"turning alternate anchoring on", [](OpenPage& p) { p.Click("optMultiPage_1"); }, key::UseAltAnchoring,
         Variant(true)},
    };
    for (const auto& c : cases) {
        OpenPage p({{key::AnchorElement, true}});
        const std::string what = c.what;
        Check(!p.page_->IsPageDirty() && p.Notifications() == 0, what + ": the page opens clean");
        c.edit(p);
        Check(p.page_->IsPageDirty(), what + ": the page is dirty");
        Check(p.Notifications() > 0, what + ": the site is told");
        Check(p.Working(c.key) == c.expected, what + ": the working record has it");
        Check(!(p.Stored(c.key) == c.expected), what + ": the element's record waits for Apply");
        p.page_->Apply();
        Check(p.Stored(c.key) == c.expected, what + ": Apply writes it");
        Check(p.sink_.reports.empty(), what + ": nothing is reported");
    }
}

// A box's change event fires on every keystroke, and once for a change made by code: not
// once more for the edit control's own report of it.
void EveryKeystrokeIsAnEditAndCodeFillingABoxIsOne() {
    OpenPage p({{key::AnchorElement, true}});
    p.Click("OptAnchorTo_0");
    Check(p.Notifications() == 0, "a click on the option that is on already is no edit");
    p.Type("txtVDistanceAll", "1.25");
    Check(p.Notifications() == 4, "four keystrokes, four edits (" + std::to_string(p.Notifications()) + ")");
    p.page_->Hide();
    p.page_->Show();
    Check(p.Notifications() == 4, "showing the page again fills the boxes without an edit");

    // The alternate lists are the mirror already: the command changes the two boxes only.
    OpenPage q({{key::HDistanceAll, 0.25},
                {key::VDistanceAll, 0.5},
                {key::AnchorFromAlt, int16_t{2}},
                {key::AnchorToAlt, int16_t{2}}});
    q.Click("cmdMakeHorizontalOpposite");
    Check(q.Notifications() == 3,
          "two boxes filled and the command's own store (" + std::to_string(q.Notifications()) + ")");
    Check(q.Working(key::HDistanceAlt) == Variant("-0.25") && q.Working(key::VDistanceAlt) == Variant("0.5"),
          "the opposite's distances are stored");
}

// An index past the end of a list is refused with 380: a record that asks for one is
// reported when the page fills, and the page then writes nothing back.
void AnIndexPastTheEndIsRefused() {
    const struct {
        const char* key;
        Variant value;
    } cases[] = {{key::AnchorPriority, Variant(int16_t{3})}, {key::AnchorToAll, Variant(int16_t{9})}};
    for (const auto& c : cases) {
        OpenPage p({{c.key, c.value}});
        const std::string what = c.key;
        Check(p.sink_.reports.size() == 1, what + ": one report");
        if (p.sink_.reports.empty()) continue;
        const std::string& text = p.sink_.reports[0].text;
        Check(Contains(text, "Invalid property value"), what + ": the refusal in " + text);
        Check(Contains(text, "\tPopulateForm CRVAnchor:frmAnchorPropertyPage \r\n"), what + ": where, in " + text);
        p.Click("chkAnchor");
        Check(p.Notifications() == 0 && !p.page_->IsPageDirty(), what + ": later edits are not written back");
    }
    OpenPage p({});
    bool refused = false;
    try {
        p.page_->Form().View().Controls().cmbAnchorPriority->SetListIndex(3);
    } catch (const ComError& e) {
        refused = e.Number() == 380;
    }
    Check(refused, "the priority list refuses index 3 of 3 with 380");
}

void TheAlternateTabOpensOnlyWithAlternateAnchoring() {
    OpenPage p({{key::UseAltAnchoring, false}});
    p.ClickTab(2);
    Check(p.ShownTab() == 0, "a click on the disabled tab leaves the tab shown");
    p.Click("optMultiPage_1");
    p.ClickTab(2);
    Check(p.ShownTab() == 2, "with alternate anchoring the tab opens");
    const auto shown = [&](const char* control) {
        return (GetWindowLongPtrW(GetParent(p.Control(control)), GWL_STYLE) & WS_VISIBLE) != 0;
    };
    Check(shown("cmbAnchorFromAlt") && !shown("chkAnchor"), "and shows its page alone");
}

}  // namespace
}  // namespace crv::testing

int main() {
    crv::testing::EachEditIsWrittenBackAndAppliedOnlyByApply();
    crv::testing::EveryKeystrokeIsAnEditAndCodeFillingABoxIsOne();
    crv::testing::AnIndexPastTheEndIsRefused();
    crv::testing::TheAlternateTabOpensOnlyWithAlternateAnchoring();
    std::printf("%d passed, %d failed\n", crv::testing::g_passed, crv::testing::g_failed);
    return crv::testing::g_failed == 0 ? 0 : 1;
}
