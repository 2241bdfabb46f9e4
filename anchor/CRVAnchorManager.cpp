#include "anchor/CRVAnchorManager.h"

#include "anchor/Anchorability.h"
#include "anchor/PlacementPlan.h"

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string_view>

namespace crv {

namespace {

namespace gf = GeneralFunctions;

std::string Id(const char* name) { return ProcedureId(name, CRVAnchorManager::kModule); }

ComPtr<PropertyBag> RecordOf(const ComPtr<LayoutElement>& element) {
    const ComPtr<PropertyBag> outer = gf::ToPropertyBag(element->CustomProperty());
    const ComPtr<PropertyBag> family = gf::ToPropertyBag(outer->GetProperty(kCorvaneProperties));
    return gf::ToPropertyBag(family->GetProperty(kAnchorProperties));
}

void RequirePointCode(int16_t code, const char* which, const char* source) {
    if (!IsPointCode(code)) {
        Raise(kAnchorErrorNumber, source,
              std::string("Undefined anchor point code ") + std::to_string(code) + " for the " + which +
                  " point; codes are 0 to 8.");
    }
}

// Moves the element so that its own point lands on the target's point shifted by (h, v),
// then has the host update and redraw it.
void MoveOnto(const ComPtr<LayoutElement>& element, int16_t from, int16_t to, double h, double v, const Extent& target,
              const Extent& e, const ComPtr<ElementContainer>& container, const ComPtr<LayoutView>& view) {
    const Point d = CheckedDisplacement(from, to, target, e, h, v);
    element->Move(d.x, d.y);
    container->UpdateElement(element);
    view->PartialRefresh(LayoutView::kPhaseGraphics, ComPtr<Unknown>(element), {});
}

// Each procedure's identifier is built once: placing a page must not pay for the text of an
// error report it does not show.
#define CRV_PROCEDURE_ID(name)                  \
    []() -> const std::string& {                \
        static const std::string id = Id(name); \
        return id;                              \
    }()

}  // namespace

CRVAnchorManager::CRVAnchorManager() {
    TopLevel(Id("Class_Initialize"), [&] { s_.ElementIsSet = false; });
}

CRVAnchorManager::~CRVAnchorManager() {
    TopLevel(Id("Class_Terminate"), [&] { ReleaseReferences(); });
}

void CRVAnchorManager::ReleaseReferences() {
    s_.AnchoredElement.Reset();
    s_.ReferenceElement.Reset();
    s_.CurrentPageFeature.Reset();
    s_.SeriesIndexLayer.Reset();
    s_.IndexFields.Reset();
    s_.SeriesFrame.Reset();
    s_.ReferenceMapFrame.Reset();
}

void CRVAnchorManager::Reset() {
    TopLevel(Id("Reset"), [&] {
        ReleaseReferences();
        s_.ElementIsSet = false;
    });
}

bool CRVAnchorManager::IsAnchorElement(const ComPtr<LayoutElement>& pElement) {
    return TopLevel(Id("IsAnchorElement"), false, [&] { return gf::HasAnchorProperties(pElement); });
}

ComPtr<PropertyBag> CRVAnchorManager::MakeAnchorProperties() {
    return TopLevel(Id("MakeAnchorProperties"), ComPtr<PropertyBag>(), [&] { return gf::NewAnchorProperties(); });
}

void CRVAnchorManager::AddAnchorProperties(const ComPtr<LayoutElement>& pElement,
                                           const ComPtr<PropertyBag>& AnchorProperties) {
    TopLevel(Id("AddAnchorProperties"), [&] {
        if (!gf::SetAnchorProperties(pElement, AnchorProperties)) {
            Raise(kAnchorErrorNumber, "CRVAnchorManager.AddAnchorProperties",
                  "Error attempting to set Anchor properties.");
        }
    });
}

void CRVAnchorManager::RemoveAnchorProperties(const ComPtr<LayoutElement>& pElement) {
    TopLevel(Id("RemoveAnchorProperties"), [&] { gf::DeleteAnchorProperties(pElement); });
}

bool CRVAnchorManager::CanAnchor(const ComPtr<LayoutElement>& pElement) {
    return TopLevel(Id("CanAnchor"), false, [&] {
        if (!gf::HasAnchorProperties(pElement)) return false;
        // Every key is read and converted, so a record that cannot be read is not anchorable.
        static const AnchorRecord::KeySet kKeys = Without(kEveryKey, {key::Version});
        AnchorRecord r;
        r.Read(RecordOf(pElement), kKeys);

        ComPtr<HostDocument> document;
        const AnchorabilityHost host{[&] { document = RunningApplication()->Document(); },
                                     [&](const std::string& name) { return gf::FindElementByName(document, name); }};
        return CheckAnchorability(r, host).why == NotAnchored::None;
    });
}

int16_t CRVAnchorManager::AnchorPriority(const ComPtr<LayoutElement>& pElement) {
    int16_t result = kPriorityMedium;
    TopLevel(Id("AnchorPriority"), [&] {
        if (gf::HasAnchorProperties(pElement)) result = CInt(RecordOf(pElement)->GetProperty(key::AnchorPriority));
    });
    return result;
}

void CRVAnchorManager::SetAnchorElement(const ComPtr<LayoutElement>& pElement) {
    TopLevel(Id("SetAnchorElement"), [&] {
        s_.ElementIsSet = false;
        const ComPtr<HostDocument> document = RunningApplication()->Document();
        if (!gf::HasAnchorProperties(pElement)) {
            Raise(kAnchorErrorNumber, "CRVAnchor.SetAnchorElement", "Element no longer has anchor properties.");
        }
        s_.AnchoredElement = pElement;

        static const AnchorRecord::KeySet kKeys =
            Without(kEveryKey, {key::AnchorElement, key::CanAnchor, key::Version});
        AnchorRecord& r = s_.Record;
        r.Read(RecordOf(pElement), kKeys);

        s_.ElementCanAnchor = CanAnchor(s_.AnchoredElement);
        s_.UseFieldDistances = false;
        if (!s_.ElementCanAnchor) {
            Raise(kAnchorErrorNumber, "CRVAnchorManager.SetAnchorElement", "Error setting anchor properties.");
        }
        if (r.AnchorType != kAnchorTypeNamedElement) {
            s_.ElementIsSet = true;
            return;
        }
        s_.ReferenceElement = gf::FindElementByName(document, r.ElementName);
        if (!r.All.AnyFromField() && !r.Alt.AnyFromField()) {
            s_.ElementIsSet = true;
            return;
        }
        s_.SeriesFrame = NewMapSeriesFrame();
        s_.ReferenceMapFrame = ComPtr<MapFrame>::Query(s_.ReferenceElement);
        s_.SeriesFrame->Bind(s_.ReferenceMapFrame);
        s_.SeriesIndexLayer = s_.SeriesFrame->IndexLayer();
        s_.IndexFields = s_.SeriesIndexLayer->Table()->Fields();

        if (SeriesHasDistanceFields(r, s_.IndexFields)) {
            s_.UseFieldDistances = true;
            s_.ElementIsSet = true;
            return;
        }
        s_.IndexFields.Reset();
        s_.SeriesIndexLayer.Reset();
        s_.ReferenceMapFrame.Reset();
        s_.SeriesFrame.Reset();
        RaiseNoSeriesFields();
    });
}

void CRVAnchorManager::AnchorElement(const int32_t& PageNumber) {
    TopLevel(CRV_PROCEDURE_ID("AnchorElement"), [&] {
        int32_t page = PageNumber;
        if (!s_.ElementIsSet) {
            Raise(kAnchorErrorNumber, "CRVAnchorManager.AnchorElement", "AnchorElement has not been set.");
        }
        if (s_.UseFieldDistances) {
            s_.CurrentPageFeature.Reset();
            if (const auto at = SeriesPageOf(s_.SeriesFrame, page)) {
                // The series' page in force is handed back: the host draws the page from it.
                s_.CurrentPageFeature = at->feature;
                s_.SeriesFrame->SetCurrentPage(s_.CurrentPageFeature, at->position);
                page = at->position;
            }
        }
        Anchor(page, SectionOffset());
    });
}

void CRVAnchorManager::Anchor(int32_t PageNumber, int32_t PageOffset) {
    Nested(CRV_PROCEDURE_ID("Anchor"), [&] {
        const AnchorRecord& r = s_.Record;
        const int32_t effective = TestedPage(PageNumber, PageOffset);
        const bool alternate = UsesAlternateRule(
            r, effective, [](int32_t p) { return IsOdd(p); }, [this](int32_t p) { return InAlternatePages(p); });
        const AnchorRule& rule = alternate ? r.Alt : r.All;
        const double h = Distance(rule.HDistance, rule.HFromField, rule.HFieldName);
        const double v = Distance(rule.VDistance, rule.VFromField, rule.VFieldName);
        if (r.AnchorType == kAnchorTypeLayout) {
            AnchorElementToPage(rule.AnchorFrom, rule.AnchorTo, h, v);
        } else {
            AnchorElementToElement(rule.AnchorFrom, rule.AnchorTo, h, v);
        }
    });
}

// ParseOutPages followed by ExistsInCollection, as one placement asks them, with their errors
// under their procedures' names.
bool CRVAnchorManager::InAlternatePages(int32_t page) {
    return alternatePages_.Holds(s_.Record.AltAnchorPageRange, page, [](PageListStep step, auto&& body) {
        if (step == PageListStep::Read) {
            Nested(CRV_PROCEDURE_ID("ParseOutPages"), body);
        } else {
            Nested(CRV_PROCEDURE_ID("ExistsInCollection"), body);
        }
    });
}

double CRVAnchorManager::Distance(double fixed, bool fromField, const std::string& fieldName) {
    return RuleDistance(fixed, fromField, fieldName, s_.UseFieldDistances ? s_.SeriesIndexLayer : nullptr,
                        s_.CurrentPageFeature);
}

void CRVAnchorManager::AnchorElementToPage(int16_t AnchorFrom, int16_t AnchorTo, double HDistance, double VDistance) {
    Nested(CRV_PROCEDURE_ID("AnchorElementToPage"), [&] {
        RequirePointCode(AnchorTo, "target", "CRVAnchorManager.AnchorElementToPage");
        RequirePointCode(AnchorFrom, "element's own", "CRVAnchorManager.AnchorElementToPage");
        const ComPtr<HostDocument> document = RunningApplication()->Document();
        const ComPtr<LayoutView> view = document->ActiveView();
        const ComPtr<ElementContainer> container = document->ActiveViewContainer();
        const ComPtr<Display> display = view->ScreenDisplay();
        const Extent e = ElementExtent(s_.AnchoredElement, display, OutlineEnvelope::Copied);
        double width = 0;
        double height = 0;
        view->Page()->QuerySize(width, height);
        MoveOnto(s_.AnchoredElement, AnchorFrom, AnchorTo, HDistance, VDistance, PageExtent(width, height), e,
                 container, view);
    });
}

void CRVAnchorManager::AnchorElementToElement(int16_t AnchorFrom, int16_t AnchorTo, double HDistance,
                                              double VDistance) {
    Nested(CRV_PROCEDURE_ID("AnchorElementToElement"), [&] {
        RequirePointCode(AnchorTo, "target", "CRVAnchorManager.AnchorElementToElement");
        RequirePointCode(AnchorFrom, "element's own", "CRVAnchorManager.AnchorElementToElement");
        const ComPtr<HostDocument> document = RunningApplication()->Document();
        const ComPtr<LayoutView> view = document->ActiveView();
        const ComPtr<ElementContainer> container = document->ActiveViewContainer();
        const ComPtr<Display> display = view->ScreenDisplay();
        const Extent e = ElementExtent(s_.AnchoredElement, display, OutlineEnvelope::Copied);
        const Extent target = ElementExtent(s_.ReferenceElement, display, OutlineEnvelope::Copied);
        MoveOnto(s_.AnchoredElement, AnchorFrom, AnchorTo, HDistance, VDistance, target, e, container, view);
    });
}

bool CRVAnchorManager::IsOdd(int32_t Value) {
    return Nested(CRV_PROCEDURE_ID("IsOdd"), [&] { return IsOddPage(Value); });
}

#undef CRV_PROCEDURE_ID

}  // namespace crv
