#include "propertypage/frmAnchorPropertyPage.h"

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "anchor/ReferenceGeometry.h"
#include "errors/ErrorHandling.h"
#include "ui_frmAnchorPropertyPage.h"

#include <QLayout>

#include <array>

namespace crv {

namespace {

namespace gf = GeneralFunctions;
using controls::CheckBox;
using controls::DropDownList;
using controls::ListBox;
using controls::OptionArray;
using controls::TextBox;

constexpr const char* kAdjacentPageListing = "CRVADJACENTPAGELISTING";

std::string Id(const char* name) { return ProcedureId(name, frmAnchorPropertyPage::kModule); }

// Elements named with the adjacent-page marker belong to another tool and are not offered.
bool IsListable(const std::string& name) {
    return !name.empty() && !controls::Q(name).contains(QLatin1String(kAdjacentPageListing), Qt::CaseInsensitive);
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

QWidget* frmAnchorPropertyPage::Window() {
    if (!window_) Load();
    return window_.get();
}

void frmAnchorPropertyPage::Load() {
    window_ = std::make_unique<QWidget>();
    ui_ = std::make_unique<Ui::frmAnchorPropertyPage>();
    ui_->setupUi(window_.get());
    Connect();
    Form_Load();
}

void frmAnchorPropertyPage::Unload() {
    if (!window_) return;
    Form_Unload();
    for (const auto& c : connections_) QObject::disconnect(c);
    connections_.clear();
    ui_.reset();
    window_.reset();
}

void frmAnchorPropertyPage::Show() {
    Window()->show();
    Form_Activate();
}

void frmAnchorPropertyPage::Hide() {
    if (window_) window_->hide();
}

void frmAnchorPropertyPage::Form_Load() {
    TopLevel(Id("Form_Load"), [&] {
        // The form hugs its tab control with a margin of 100 twips to the right and below.
        const int right = controls::TwipsToPixelsX(*window_, 100);
        const int below = controls::TwipsToPixelsY(*window_, 100);
        QLayout* layout = window_->layout();
        const QMargins m = layout->contentsMargins();
        layout->setContentsMargins(m.left(), m.top(), right, below);
        // A top-level window's adjustSize stops at a share of the screen; the form wants the
        // whole of its tab control.
        window_->resize(layout->sizeHint().expandedTo(layout->minimumSize()));
        // A hidden window lays out its children only when told to.
        layout->setGeometry(window_->rect());
        const QRect tab = ui_->sstabAnchorProperties->geometry();
        window_->resize(tab.x() + tab.width() + right, tab.y() + tab.height() + below);
    });
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
    auto store = [this](auto* sender, auto signal, const char* handler) {
        connections_.push_back(QObject::connect(sender, signal, [this, handler] { StoreOnEdit(handler); }));
    };
    for (auto [box, handler] : {std::pair{ui_->chkAnchor, "chkAnchor_Click"},
                                {ui_->chkHDistanceFieldAll, "chkHDistanceFieldAll_Click"},
                                {ui_->chkHDistanceFieldAlt, "chkHDistanceFieldAlt_Click"},
                                {ui_->chkVDistanceFieldAll, "chkVDistanceFieldAll_Click"},
                                {ui_->chkVDistanceFieldAlt, "chkVDistanceFieldAlt_Click"}}) {
        store(box, &QCheckBox::stateChanged, handler);
    }
    for (auto [box, handler] : {std::pair{ui_->cmbAnchorFromAll, "cmbAnchorFromAll_Click"},
                                {ui_->cmbAnchorFromAlt, "cmbAnchorFromAlt_Click"},
                                {ui_->cmbAnchorPriority, "cmbAnchorPriority_Click"},
                                {ui_->cmbAnchorToAll, "cmbAnchorToAll_Click"},
                                {ui_->cmbAnchorToAlt, "cmbAnchorToAlt_Click"},
                                {ui_->cmdHFieldAll, "cmdHFieldAll_Click"},
                                {ui_->cmdHFieldAlt, "cmdHFieldAlt_Click"},
                                {ui_->cmdVFieldAll, "cmdVFieldAll_Click"},
                                {ui_->cmdVFieldAlt, "cmdVFieldAlt_Click"}}) {
        store(box, qOverload<int>(&QComboBox::currentIndexChanged), handler);
    }
    for (auto [edit, handler] : {std::pair{ui_->txtHDistanceAll, "txtHDistanceAll_Change"},
                                 {ui_->txtHDistanceAlt, "txtHDistanceAlt_Change"},
                                 {ui_->txtPageRange, "txtPageRange_Change"},
                                 {ui_->txtVDistanceAll, "txtVDistanceAll_Change"},
                                 {ui_->txtVDistanceAlt, "txtVDistanceAlt_Change"}}) {
        store(edit, &QLineEdit::textChanged, handler);
    }
    connections_.push_back(QObject::connect(ui_->cmbAlternateType, qOverload<int>(&QComboBox::currentIndexChanged),
                                            [this] { cmbAlternateType_Click(); }));
    connections_.push_back(QObject::connect(ui_->lstElementNames, &QListWidget::itemSelectionChanged,
                                            [this] { lstElementNames_Click(); }));
    const std::array<std::pair<QRadioButton*, int>, 2> anchorTo = {{{ui_->OptAnchorTo_0, 0}, {ui_->OptAnchorTo_1, 1}}};
    for (auto [button, index] : anchorTo) {
        connections_.push_back(QObject::connect(button, &QRadioButton::toggled, [this, i = index](bool on) {
            if (on) OptAnchorTo_Click(i);
        }));
    }
    const std::array<std::pair<QRadioButton*, int>, 2> multiPage = {
        {{ui_->optMultiPage_0, 0}, {ui_->optMultiPage_1, 1}}};
    for (auto [button, index] : multiPage) {
        connections_.push_back(QObject::connect(button, &QRadioButton::toggled, [this, i = index](bool on) {
            if (on) optMultiPage_Click(i);
        }));
    }
    connections_.push_back(QObject::connect(ui_->cmdGetCurrentXYPrimary, &QPushButton::clicked,
                                            [this] { cmdGetCurrentXYPrimary_Click(); }));
    connections_.push_back(QObject::connect(ui_->cmdGetCurrentXYAlternate, &QPushButton::clicked,
                                            [this] { cmdGetCurrentXYAlternate_Click(); }));
    connections_.push_back(QObject::connect(ui_->cmdMakeHorizontalOpposite, &QPushButton::clicked,
                                            [this] { cmdMakeHorizontalOpposite_Click(); }));
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
        Ui::frmAnchorPropertyPage& u = *ui_;
        ListBox names(u.lstElementNames);
        names.Clear();
        gf::WalkElementNames(RunningApplication()->Document()->PageLayout(), gf::GroupMembers::Walked,
                             [&](const ComPtr<LayoutElement>&, const std::string& name) {
                                 if (IsListable(name)) names.AddItem(name);
                                 return false;
                             });

        CheckBox(u.chkAnchor).SetValue(Values.AnchorElement ? 1 : 0);

        OptionArray anchorTo({u.OptAnchorTo_0, u.OptAnchorTo_1});
        const bool anyNames = names.ListCount() > 0;
        names.SetEnabled(anyNames);
        anchorTo.SetEnabled(1, anyNames);
        anchorTo.SetValue(0, Values.AnchorType == kAnchorTypeLayout);
        anchorTo.SetValue(1, Values.AnchorType == kAnchorTypeNamedElement);
        names.SetEnabled(Values.AnchorType == kAnchorTypeNamedElement);

        const QString wanted = controls::Q(Values.ElementName);
        for (int i = 0; i < names.ListCount(); ++i) {
            if (controls::Q(names.List(i)).compare(wanted, Qt::CaseInsensitive) == 0) names.SetListIndex(i);
        }

        CheckReferenceMapSeries();

        OptionArray multiPage({u.optMultiPage_0, u.optMultiPage_1});
        multiPage.SetValue(Values.UseAltAnchoring ? 1 : 0, true);
        u.sstabAnchorProperties->setTabEnabled(2, Values.UseAltAnchoring);
        u.cmbAlternateType->setEnabled(Values.UseAltAnchoring);
        u.txtPageRange->setEnabled(Values.UseAltAnchoring);

        DropDownList alternateType(u.cmbAlternateType);
        alternateType.Clear();
        for (const char* label : kAltPageLabels) alternateType.AddItem(label);
        alternateType.SetListIndex(Values.AltAnchorType);

        TextBox(u.txtPageRange).SetText(Values.AltAnchorPageRange);

        const std::array<QComboBox*, 4> points = {u.cmbAnchorFromAll, u.cmbAnchorToAll, u.cmbAnchorFromAlt,
                                                  u.cmbAnchorToAlt};
        for (QComboBox* box : points) {
            DropDownList list(box);
            list.Clear();
            for (const char* label : kPointLabels) list.AddItem(label);
        }
        const std::array<int16_t, 4> codes = {Values.All.AnchorFrom, Values.All.AnchorTo, Values.Alt.AnchorFrom,
                                              Values.Alt.AnchorTo};
        for (size_t i = 0; i < points.size(); ++i) DropDownList(points[i]).SetListIndex(codes[i]);

        const RegionalSettings& rs = RegionalSettings::Current();
        TextBox(u.txtHDistanceAll).SetText(FormatGeneral(Values.All.HDistance, rs));
        TextBox(u.txtVDistanceAll).SetText(FormatGeneral(Values.All.VDistance, rs));
        TextBox(u.txtHDistanceAlt).SetText(FormatGeneral(Values.Alt.HDistance, rs));
        TextBox(u.txtVDistanceAlt).SetText(FormatGeneral(Values.Alt.VDistance, rs));

        const std::array<std::pair<QCheckBox*, bool>, 4> fieldChecks = {
            {{u.chkHDistanceFieldAll, Values.All.HFromField},
             {u.chkVDistanceFieldAll, Values.All.VFromField},
             {u.chkHDistanceFieldAlt, Values.Alt.HFromField},
             {u.chkVDistanceFieldAlt, Values.Alt.VFromField}}};
        for (auto [box, checked] : fieldChecks) {
            CheckBox check(box);
            check.SetEnabled(HasMapSeries);
            check.SetValue(checked ? 1 : 0);
        }

        PopulateFieldCombos();

        DropDownList priority(u.cmbAnchorPriority);
        priority.Clear();
        for (const char* label : kPriorityLabels) priority.AddItem(label);
        priority.SetListIndex(Values.AnchorPriority);
    });
}

void frmAnchorPropertyPage::PopulateFieldCombos() {
    Nested(Id("PopulateFieldCombos"), [&] {
        Ui::frmAnchorPropertyPage& u = *ui_;
        const std::array<QComboBox*, 4> lists = {u.cmdHFieldAll, u.cmdVFieldAll, u.cmdHFieldAlt, u.cmdVFieldAlt};
        const std::array<QCheckBox*, 4> checks = {u.chkHDistanceFieldAll, u.chkVDistanceFieldAll,
                                                  u.chkHDistanceFieldAlt, u.chkVDistanceFieldAlt};
        const std::array<const std::string*, 4> loaded = {&Values.All.HFieldName, &Values.All.VFieldName,
                                                          &Values.Alt.HFieldName, &Values.Alt.VFieldName};
        std::array<bool, 4> found = {false, false, false, false};
        for (QComboBox* box : lists) {
            DropDownList list(box);
            list.Clear();
            list.AddItem(kNone);
        }
        auto switchFields = [&](bool on) {
            for (QComboBox* box : lists) box->setEnabled(on);
            for (QCheckBox* box : checks) {
                box->setEnabled(on);
                if (!on) CheckBox(box).SetValue(0);
            }
        };
        if (HasMapSeries) {
            const ComPtr<FieldSet> fields = SeriesIndexLayer->Table()->Fields();
            const int32_t count = fields->FieldCount();
            for (int32_t i = 0; i < count; ++i) {
                const ComPtr<Field> field = fields->FieldAt(i);
                if (!gf::IsDistanceFieldType(field->Type())) continue;
                const std::string name = field->Name();
                for (QComboBox* box : lists) DropDownList(box).AddItem(name);
                for (size_t k = 0; k < loaded.size(); ++k) found[k] = found[k] || *loaded[k] == name;
            }
            switchFields(DropDownList(u.cmdVFieldAlt).ListCount() >= 2);
        } else {
            switchFields(false);
        }
        for (size_t k = 0; k < lists.size(); ++k) {
            const int index =
                found[k] ? lists[k]->findText(controls::Q(*loaded[k]), Qt::MatchExactly | Qt::MatchCaseSensitive) : 0;
            DropDownList(lists[k]).SetListIndex(index);
        }
    });
}

void frmAnchorPropertyPage::UpdateProperties() {
    Nested(Id("UpdateProperties"), [&] {
        if (IsLoading) return;
        Ui::frmAnchorPropertyPage& u = *ui_;
        const ComPtr<PropertyBag>& r = WorkingProperties;
        auto index = [](QComboBox* box) { return static_cast<int16_t>(DropDownList(box).ListIndex()); };
        auto checked = [](QCheckBox* box) { return CheckBox(box).Value() == 1; };
        auto text = [](QLineEdit* edit) { return TextBox(edit).Text(); };
        auto listText = [](QComboBox* box) { return DropDownList(box).Text(); };
        r->SetProperty(key::AnchorElement, Variant(checked(u.chkAnchor)));
        r->SetProperty(key::AnchorType, Variant(Values.AnchorType));
        r->SetProperty(key::ElementName, Variant(Values.ElementName));
        r->SetProperty(key::UseAltAnchoring, Variant(OptionArray({u.optMultiPage_0, u.optMultiPage_1}).Value(1)));
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

void frmAnchorPropertyPage::StoreOnEdit(const char* handler) {
    TopLevel(Id(handler), [&] {
        if (IsLoading) return;
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::cmbAlternateType_Click() {
    TopLevel(Id("cmbAlternateType_Click"), [&] {
        if (IsLoading) return;
        TextBox(ui_->txtPageRange).SetEnabled(DropDownList(ui_->cmbAlternateType).ListIndex() == kAltPageRange);
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::OptAnchorTo_Click(int) {
    TopLevel(Id("OptAnchorTo_Click"), [&] {
        if (IsLoading) return;
        const OptionArray anchorTo({ui_->OptAnchorTo_0, ui_->OptAnchorTo_1});
        if (anchorTo.Value(0)) {
            Values.AnchorType = kAnchorTypeLayout;
            ListBox(ui_->lstElementNames).SetEnabled(false);
        } else if (anchorTo.Value(1)) {
            Values.AnchorType = kAnchorTypeNamedElement;
            ListBox(ui_->lstElementNames).SetEnabled(true);
        }
        lstElementNames_Click();
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::lstElementNames_Click() {
    TopLevel(Id("lstElementNames_Click"), [&] {
        if (IsLoading) return;
        const std::string chosen = ListBox(ui_->lstElementNames).Text();
        Values.ElementName = chosen.empty() ? std::string(kNone) : chosen;
        CheckReferenceMapSeries();
        PopulateFieldCombos();
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::optMultiPage_Click(int) {
    TopLevel(Id("optMultiPage_Click"), [&] {
        if (IsLoading) return;
        const bool alternate = OptionArray({ui_->optMultiPage_0, ui_->optMultiPage_1}).Value(1);
        ui_->sstabAnchorProperties->setTabEnabled(2, alternate);
        ui_->cmbAlternateType->setEnabled(alternate);
        ui_->txtPageRange->setEnabled(alternate);
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
        const int from = DropDownList(primary ? ui_->cmbAnchorFromAll : ui_->cmbAnchorFromAlt).ListIndex();
        const int to = DropDownList(primary ? ui_->cmbAnchorToAll : ui_->cmbAnchorToAlt).ListIndex();
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
        const int from = DropDownList(primary ? ui_->cmbAnchorFromAll : ui_->cmbAnchorFromAlt).ListIndex();
        const int to = DropDownList(primary ? ui_->cmbAnchorToAll : ui_->cmbAnchorToAlt).ListIndex();
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
        TextBox(primary ? ui_->txtHDistanceAll : ui_->txtHDistanceAlt).SetText(FormatFixed(p->X(), 2, rs));
        TextBox(primary ? ui_->txtVDistanceAll : ui_->txtVDistanceAlt).SetText(FormatFixed(p->Y(), 2, rs));
        UpdateProperties();
    });
}

void frmAnchorPropertyPage::cmdGetCurrentXYPrimary_Click() { GetCurrentXY("cmdGetCurrentXYPrimary_Click", true); }

void frmAnchorPropertyPage::cmdGetCurrentXYAlternate_Click() { GetCurrentXY("cmdGetCurrentXYAlternate_Click", false); }

void frmAnchorPropertyPage::cmdMakeHorizontalOpposite_Click() {
    TopLevel(Id("cmdMakeHorizontalOpposite_Click"), [&] {
        if (IsLoading) return;
        Ui::frmAnchorPropertyPage& u = *ui_;
        const std::array<std::pair<QComboBox*, QComboBox*>, 2> pairs = {
            {{u.cmbAnchorFromAll, u.cmbAnchorFromAlt}, {u.cmbAnchorToAll, u.cmbAnchorToAlt}}};
        for (auto [primary, alternate] : pairs) {
            const int code = DropDownList(primary).ListIndex();
            if (IsPointCode(code)) DropDownList(alternate).SetListIndex(kHorizontalMirror[static_cast<size_t>(code)]);
        }
        const RegionalSettings& rs = RegionalSettings::Current();
        const double horizontal = CDbl(Variant(TextBox(u.txtHDistanceAll).Text()), rs);
        TextBox(u.txtHDistanceAlt).SetText(FormatGeneral(-horizontal, rs));
        TextBox(u.txtVDistanceAlt).SetText(TextBox(u.txtVDistanceAll).Text());
        UpdateProperties();
    });
}

}  // namespace crv
