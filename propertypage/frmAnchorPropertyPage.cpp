#include "propertypage/frmAnchorPropertyPage.h"

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "anchor/ReferenceGeometry.h"
#include "errors/ErrorHandling.h"

#include <array>

namespace crv {

namespace {

namespace gf = GeneralFunctions;
using controls::CheckBox;
using controls::DropDownList;
using controls::OptionArray;
using controls::TextBox;

constexpr const char* kAdjacentPageListing = "CRVADJACENTPAGELISTING";

std::string Id(const char* name) { return ProcedureId(name, frmAnchorPropertyPage::kModule); }

// Elements named with the adjacent-page marker belong to another tool and are not offered.
bool IsListable(const std::string& name) {
    return !name.empty() && !controls::ContainsIgnoringCase(name, kAdjacentPageListing);
}

// The measured distances as the host's point.
ComPtr<GeometryPoint> NewPoint(const Point& distance) {
    ComPtr<GeometryPoint> p = NewGeometryPoint();
    p->SetX(distance.x);
    p->SetY(distance.y);
    return p;
}

}  // namespace

frmAnchorPropertyPage::frmAnchorPropertyPage() = default;

frmAnchorPropertyPage::~frmAnchorPropertyPage() { Unload(); }

controls::FormWindow& frmAnchorPropertyPage::View() {
    if (!window_) Load();
    return *window_;
}

void frmAnchorPropertyPage::Load() {
    window_ = controls::NewFormWindow();
    Connect();
    Form_Load();
}

void frmAnchorPropertyPage::Unload() {
    if (!window_) return;
    Form_Unload();
    window_.reset();
}

void frmAnchorPropertyPage::Show() {
    View().Show();
    Form_Activate();
}

void frmAnchorPropertyPage::Hide() {
    if (window_) window_->Hide();
}

void frmAnchorPropertyPage::Form_Load() {
    // The form hugs its tab control with a margin of 100 twips to the right and below.
    TopLevel(Id("Form_Load"), [&] { window_->HugTabs(100, 100); });
}

void frmAnchorPropertyPage::Form_Unload() {
    TopLevel(Id("Form_Unload"), [&] {
        PageSite.Reset();
        ReferenceMapFrame.Reset();
        SeriesFrame.Reset();
        SeriesIndexLayer.Reset();
    });
}

void frmAnchorPropertyPage::Connect() {
    const controls::FormControls& c = Controls();
    const std::pair<controls::Control*, const char*> stored[] = {{c.chkAnchor, "chkAnchor_Click"},
                                                                 {c.chkHDistanceFieldAll, "chkHDistanceFieldAll_Click"},
                                                                 {c.chkHDistanceFieldAlt, "chkHDistanceFieldAlt_Click"},
                                                                 {c.chkVDistanceFieldAll, "chkVDistanceFieldAll_Click"},
                                                                 {c.chkVDistanceFieldAlt, "chkVDistanceFieldAlt_Click"},
                                                                 {c.cmbAnchorFromAll, "cmbAnchorFromAll_Click"},
                                                                 {c.cmbAnchorFromAlt, "cmbAnchorFromAlt_Click"},
                                                                 {c.cmbAnchorPriority, "cmbAnchorPriority_Click"},
                                                                 {c.cmbAnchorToAll, "cmbAnchorToAll_Click"},
                                                                 {c.cmbAnchorToAlt, "cmbAnchorToAlt_Click"},
                                                                 {c.cmdHFieldAll, "cmdHFieldAll_Click"},
                                                                 {c.cmdHFieldAlt, "cmdHFieldAlt_Click"},
                                                                 {c.cmdVFieldAll, "cmdVFieldAll_Click"},
                                                                 {c.cmdVFieldAlt, "cmdVFieldAlt_Click"},
                                                                 {c.txtHDistanceAll, "txtHDistanceAll_Change"},
                                                                 {c.txtHDistanceAlt, "txtHDistanceAlt_Change"},
                                                                 {c.txtPageRange, "txtPageRange_Change"},
                                                                 {c.txtVDistanceAll, "txtVDistanceAll_Change"},
                                                                 {c.txtVDistanceAlt, "txtVDistanceAlt_Change"}};
    for (auto [control, handler] : stored) control->Changed = [this, h = handler] { StoreOnEdit(h); };
    c.cmbAlternateType->Changed = [this] { cmbAlternateType_Click(); };
    c.lstElementNames->Changed = [this] { lstElementNames_Click(); };
    for (int i = 0; i < 2; ++i) {
        c.OptAnchorTo.At(static_cast<size_t>(i))->Changed = [this, i] { OptAnchorTo_Click(i); };
        c.optMultiPage.At(static_cast<size_t>(i))->Changed = [this, i] { optMultiPage_Click(i); };
    }
    c.cmdGetCurrentXYPrimary->Changed = [this] { cmdGetCurrentXYPrimary_Click(); };
    c.cmdGetCurrentXYAlternate->Changed = [this] { cmdGetCurrentXYAlternate_Click(); };
    c.cmdMakeHorizontalOpposite->Changed = [this] { cmdMakeHorizontalOpposite_Click(); };
}

// ---------------------------------------------------------------- load and save

void frmAnchorPropertyPage::Form_Activate() {
    TopLevel(Id("Form_Activate"), [&] {
        Window();
        IsLoading = true;
        static const AnchorRecord::KeySet kKeys = Without(kEveryKey, {key::CanAnchor});
        Values.Read(WorkingProperties, kKeys);
        PopulateForm();
        IsLoading = false;
    });
}

void frmAnchorPropertyPage::CheckReferenceMapSeries() {
    HasMapSeries = false;
    if (Values.AnchorType != kAnchorTypeNamedElement || Values.ElementName == kNone) return;
    const ComPtr<HostDocument> document = RunningApplication()->Document();
    const ComPtr<LayoutElement> element = gf::FindElementByName(document, Values.ElementName);
    const ComPtr<MapFrame> frame = ComPtr<MapFrame>::Query(element);
    if (!frame) return;
    ReferenceMapFrame = frame;
    SeriesFrame = CompanionOrNothing(&NewMapSeriesFrame);
    if (SeriesFrame && SeriesFrame->HasSeries(ReferenceMapFrame) && SeriesFrame->IsSeriesEnabled(ReferenceMapFrame)) {
        SeriesFrame->Bind(ReferenceMapFrame);
        SeriesIndexLayer = SeriesFrame->IndexLayer();
        HasMapSeries = true;
    }
    SeriesFrame.Reset();
}

void frmAnchorPropertyPage::PopulateForm() {
    Nested(Id("PopulateForm"), [&] {
        const controls::FormControls& u = Controls();
        controls::ListBox& names = *u.lstElementNames;
        names.Clear();
        gf::WalkElementNames(RunningApplication()->Document()->PageLayout(), gf::GroupMembers::Walked,
                             [&](const ComPtr<LayoutElement>&, const std::string& name) {
                                 if (IsListable(name)) names.AddItem(name);
                                 return false;
                             });

        u.chkAnchor->SetValue(Values.AnchorElement ? 1 : 0);

        const OptionArray& anchorTo = u.OptAnchorTo;
        const bool anyNames = names.ListCount() > 0;
        names.SetEnabled(anyNames);
        anchorTo.SetEnabled(1, anyNames);
        anchorTo.SetValue(0, Values.AnchorType == kAnchorTypeLayout);
        anchorTo.SetValue(1, Values.AnchorType == kAnchorTypeNamedElement);
        names.SetEnabled(Values.AnchorType == kAnchorTypeNamedElement);

        for (int i = 0; i < names.ListCount(); ++i) {
            if (controls::SameTextIgnoringCase(names.List(i), Values.ElementName)) names.SetListIndex(i);
        }

        CheckReferenceMapSeries();

        u.optMultiPage.SetValue(Values.UseAltAnchoring ? 1 : 0, true);
        ShowAlternate(Values.UseAltAnchoring);

        DropDownList& alternateType = *u.cmbAlternateType;
        alternateType.Clear();
        for (const char* label : kAltPageLabels) alternateType.AddItem(label);
        alternateType.SetListIndex(Values.AltAnchorType);

        u.txtPageRange->SetText(Values.AltAnchorPageRange);

        const std::array<DropDownList*, 4> points = {u.cmbAnchorFromAll, u.cmbAnchorToAll, u.cmbAnchorFromAlt,
                                                     u.cmbAnchorToAlt};
        for (DropDownList* list : points) {
            list->Clear();
            for (const char* label : kPointLabels) list->AddItem(label);
        }
        const std::array<int16_t, 4> codes = {Values.All.AnchorFrom, Values.All.AnchorTo, Values.Alt.AnchorFrom,
                                              Values.Alt.AnchorTo};
        for (size_t i = 0; i < points.size(); ++i) points[i]->SetListIndex(codes[i]);

        const RegionalSettings& rs = RegionalSettings::Current();
        u.txtHDistanceAll->SetText(FormatGeneral(Values.All.HDistance, rs));
        u.txtVDistanceAll->SetText(FormatGeneral(Values.All.VDistance, rs));
        u.txtHDistanceAlt->SetText(FormatGeneral(Values.Alt.HDistance, rs));
        u.txtVDistanceAlt->SetText(FormatGeneral(Values.Alt.VDistance, rs));

        const std::array<std::pair<CheckBox*, bool>, 4> fieldChecks = {
            {{u.chkHDistanceFieldAll, Values.All.HFromField},
             {u.chkVDistanceFieldAll, Values.All.VFromField},
             {u.chkHDistanceFieldAlt, Values.Alt.HFromField},
             {u.chkVDistanceFieldAlt, Values.Alt.VFromField}}};
        for (auto [box, checked] : fieldChecks) {
            box->SetEnabled(HasMapSeries);
            box->SetValue(checked ? 1 : 0);
        }

        PopulateFieldCombos();

        DropDownList& priority = *u.cmbAnchorPriority;
        priority.Clear();
        for (const char* label : kPriorityLabels) priority.AddItem(label);
        priority.SetListIndex(Values.AnchorPriority);
    });
}

void frmAnchorPropertyPage::PopulateFieldCombos() {
    Nested(Id("PopulateFieldCombos"), [&] {
        const controls::FormControls& u = Controls();
        const std::array<DropDownList*, 4> lists = {u.cmdHFieldAll, u.cmdVFieldAll, u.cmdHFieldAlt, u.cmdVFieldAlt};
        const std::array<CheckBox*, 4> checks = {u.chkHDistanceFieldAll, u.chkVDistanceFieldAll, u.chkHDistanceFieldAlt,
                                                 u.chkVDistanceFieldAlt};
        const std::array<const std::string*, 4> loaded = {&Values.All.HFieldName, &Values.All.VFieldName,
                                                          &Values.Alt.HFieldName, &Values.Alt.VFieldName};
        std::array<bool, 4> found = {false, false, false, false};
        for (DropDownList* list : lists) {
            list->Clear();
            list->AddItem(kNone);
        }
        auto switchFields = [&](bool on) {
            for (DropDownList* list : lists) list->SetEnabled(on);
            for (CheckBox* box : checks) {
                box->SetEnabled(on);
                if (!on) box->SetValue(0);
            }
        };
        if (HasMapSeries) {
            const ComPtr<FieldSet> fields = SeriesIndexLayer->Table()->Fields();
            const int32_t count = fields->FieldCount();
            for (int32_t i = 0; i < count; ++i) {
                const ComPtr<Field> field = fields->FieldAt(i);
                if (!gf::IsDistanceFieldType(field->Type())) continue;
                const std::string name = field->Name();
                for (DropDownList* list : lists) list->AddItem(name);
                for (size_t k = 0; k < loaded.size(); ++k) found[k] = found[k] || *loaded[k] == name;
            }
            switchFields(u.cmdVFieldAlt->ListCount() >= 2);
        } else {
            switchFields(false);
        }
        for (size_t k = 0; k < lists.size(); ++k) {
            lists[k]->SetListIndex(found[k] ? lists[k]->FindExact(*loaded[k]) : 0);
        }
    });
}

void frmAnchorPropertyPage::UpdateProperties() {
    Nested(Id("UpdateProperties"), [&] {
        if (IsLoading) return;
        const controls::FormControls& u = Controls();
        const ComPtr<PropertyBag>& r = WorkingProperties;
        auto index = [](const DropDownList* list) { return static_cast<int16_t>(list->ListIndex()); };
        auto checked = [](const CheckBox* box) { return box->Value() == 1; };
        auto text = [](const TextBox* edit) { return edit->Text(); };
        auto listText = [](const DropDownList* list) { return list->Text(); };
        r->SetProperty(key::AnchorElement, Variant(checked(u.chkAnchor)));
        r->SetProperty(key::AnchorType, Variant(Values.AnchorType));
        r->SetProperty(key::ElementName, Variant(Values.ElementName));
        r->SetProperty(key::UseAltAnchoring, Variant(u.optMultiPage.Value(1)));
        r->SetProperty(key::AltAnchorType, Variant(index(u.cmbAlternateType)));
        r->SetProperty(key::AltAnchorPageRange, Variant(text(u.txtPageRange)));
        r->SetProperty(key::AnchorFromAll, Variant(index(u.cmbAnchorFromAll)));
        r->SetProperty(key::AnchorToAll, Variant(index(u.cmbAnchorToAll)));
        r->SetProperty(key::HDistanceAll, Variant(text(u.txtHDistanceAll)));
        r->SetProperty(key::HFromFieldAll, Variant(checked(u.chkHDistanceFieldAll)));
        r->SetProperty(key::HFieldNameAll, Variant(listText(u.cmdHFieldAll)));
        r->SetProperty(key::VDistanceAll, Variant(text(u.txtVDistanceAll)));
        r->SetProperty(key::VFromFieldAll, Variant(checked(u.chkVDistanceFieldAll)));
        r->SetProperty(key::VFieldNameAll, Variant(listText(u.cmdVFieldAll)));
        r->SetProperty(key::AnchorFromAlt, Variant(index(u.cmbAnchorFromAlt)));
        r->SetProperty(key::AnchorToAlt, Variant(index(u.cmbAnchorToAlt)));
        r->SetProperty(key::HDistanceAlt, Variant(text(u.txtHDistanceAlt)));
        r->SetProperty(key::HFromFieldAlt, Variant(checked(u.chkHDistanceFieldAlt)));
        r->SetProperty(key::HFieldNameAlt, Variant(listText(u.cmdHFieldAlt)));
        r->SetProperty(key::VDistanceAlt, Variant(text(u.txtVDistanceAlt)));
        r->SetProperty(key::VFromFieldAlt, Variant(checked(u.chkVDistanceFieldAlt)));
        r->SetProperty(key::VFieldNameAlt, Variant(listText(u.cmdVFieldAlt)));
        r->SetProperty(key::AnchorPriority, Variant(index(u.cmbAnchorPriority)));
        Values.CanAnchor = StoredCanAnchor(checked(u.chkAnchor), Values.AnchorType, Values.ElementName);
        r->SetProperty(key::CanAnchor, Variant(Values.CanAnchor));
        r->SetProperty(key::Version, Variant(kRecordVersion));
        PageDirty = true;
        PageSite->PageChanged();
    });
}

// ---------------------------------------------------------------- control logic

void frmAnchorPropertyPage::ShowAlternate(bool alternate) {
    const controls::FormControls& u = Controls();
    u.sstabAnchorProperties->SetTabEnabled(2, alternate);
    u.cmbAlternateType->SetEnabled(alternate);
    u.txtPageRange->SetEnabled(alternate);
}

std::pair<int, int> frmAnchorPropertyPage::ChosenPoints(bool primary) const {
    const controls::FormControls& u = Controls();
    return {(primary ? u.cmbAnchorFromAll : u.cmbAnchorFromAlt)->ListIndex(),
            (primary ? u.cmbAnchorToAll : u.cmbAnchorToAlt)->ListIndex()};
}

void frmAnchorPropertyPage::StoreOnEdit(const char* handler) {
    TopLevel(Id(handler), [&] {
        if (IsLoading) return;
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::cmbAlternateType_Click() {
    TopLevel(Id("cmbAlternateType_Click"), [&] {
        if (IsLoading) return;
        const controls::FormControls& u = Controls();
        u.txtPageRange->SetEnabled(u.cmbAlternateType->ListIndex() == kAltPageRange);
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::OptAnchorTo_Click(int) {
    TopLevel(Id("OptAnchorTo_Click"), [&] {
        if (IsLoading) return;
        const controls::FormControls& u = Controls();
        if (u.OptAnchorTo.Value(0)) {
            Values.AnchorType = kAnchorTypeLayout;
            u.lstElementNames->SetEnabled(false);
        } else if (u.OptAnchorTo.Value(1)) {
            Values.AnchorType = kAnchorTypeNamedElement;
            u.lstElementNames->SetEnabled(true);
        }
        lstElementNames_Click();
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::lstElementNames_Click() {
    TopLevel(Id("lstElementNames_Click"), [&] {
        if (IsLoading) return;
        const std::string chosen = Controls().lstElementNames->Text();
        Values.ElementName = chosen.empty() ? std::string(kNone) : chosen;
        CheckReferenceMapSeries();
        PopulateFieldCombos();
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::optMultiPage_Click(int) {
    TopLevel(Id("optMultiPage_Click"), [&] {
        if (IsLoading) return;
        ShowAlternate(Controls().optMultiPage.Value(1));
        UpdateProperties();
    });
}

// ---------------------------------------------------------------- position commands

ComPtr<GeometryPoint> frmAnchorPropertyPage::GetXYDistanceFromPage(bool primary) {
    return TopLevel(Id("GetXYDistanceFromPage"), ComPtr<GeometryPoint>(), [&] {
        const ComPtr<LayoutView> view = RunningApplication()->Document()->ActiveView();
        double pw = 0;
        double ph = 0;
        view->Page()->QuerySize(pw, ph);
        const Extent e = ElementExtent(TargetElement, view->ScreenDisplay(), OutlineEnvelope::Measured);
        const auto [from, to] = ChosenPoints(primary);
        return NewPoint(MeasuredDistance(from, to, PageExtent(pw, ph), e));
    });
}

ComPtr<GeometryPoint> frmAnchorPropertyPage::GetXYDistanceFromElement(bool primary) {
    return TopLevel(Id("GetXYDistanceFromElement"), ComPtr<GeometryPoint>(), [&] {
        const ComPtr<HostDocument> document = RunningApplication()->Document();
        const ComPtr<LayoutView> view = document->ActiveView();
        const ComPtr<LayoutElement> reference = gf::FindElementByName(document, Values.ElementName);
        if (!reference) return ComPtr<GeometryPoint>();
        const ComPtr<Display> display = view->ScreenDisplay();
        const Extent e = ElementExtent(TargetElement, display, OutlineEnvelope::Measured);
        const Extent rr = ElementExtent(reference, display, OutlineEnvelope::Measured);
        const auto [from, to] = ChosenPoints(primary);
        return NewPoint(MeasuredDistance(from, to, rr, e));
    });
}

void frmAnchorPropertyPage::GetCurrentXY(const char* handler, bool primary) {
    TopLevel(Id(handler), [&] {
        if (IsLoading) return;
        ComPtr<GeometryPoint> p;
        if (Values.AnchorType == kAnchorTypeLayout) {
            p = GetXYDistanceFromPage(primary);
        } else {
            if (Values.ElementName == kNone) return;
            p = GetXYDistanceFromElement(primary);
        }
        if (!p) return;
        const RegionalSettings& rs = RegionalSettings::Current();
        const controls::FormControls& u = Controls();
        (primary ? u.txtHDistanceAll : u.txtHDistanceAlt)->SetText(FormatFixed(p->X(), 2, rs));
        (primary ? u.txtVDistanceAll : u.txtVDistanceAlt)->SetText(FormatFixed(p->Y(), 2, rs));
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::cmdGetCurrentXYPrimary_Click() { GetCurrentXY("cmdGetCurrentXYPrimary_Click", true); }

void frmAnchorPropertyPage::cmdGetCurrentXYAlternate_Click() { GetCurrentXY("cmdGetCurrentXYAlternate_Click", false); }

void frmAnchorPropertyPage::cmdMakeHorizontalOpposite_Click() {
    TopLevel(Id("cmdMakeHorizontalOpposite_Click"), [&] {
        if (IsLoading) return;
        const controls::FormControls& u = Controls();
        const std::array<std::pair<DropDownList*, DropDownList*>, 2> pairs = {
            {{u.cmbAnchorFromAll, u.cmbAnchorFromAlt}, {u.cmbAnchorToAll, u.cmbAnchorToAlt}}};
        for (auto [primary, alternate] : pairs) {
            const int code = primary->ListIndex();
            if (IsPointCode(code)) alternate->SetListIndex(kHorizontalMirror[static_cast<size_t>(code)]);
        }
        const RegionalSettings& rs = RegionalSettings::Current();
        const double horizontal = CDbl(Variant(u.txtHDistanceAll->Text()), rs);
        u.txtHDistanceAlt->SetText(FormatGeneral(-horizontal, rs));
        u.txtVDistanceAlt->SetText(u.txtVDistanceAll->Text());
        UpdateProperties();
    });
}

}  // namespace crv
