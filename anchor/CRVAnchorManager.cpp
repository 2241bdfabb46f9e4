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
        BindDistanceSeries(r, s_.ReferenceElement, s_.SeriesFrame, s_.ReferenceMapFrame, s_.SeriesIndexLayer,
                           s_.IndexFields);
        s_.UseFieldDistances = true;
        s_.ElementIsSet = true;
    });
}

// The engine's procedures around the steps of a placement: their names are the call stack of an
// error report, and the series' page of a placement is handed back to the host, which draws the
// page from it.
struct CRVAnchorManager::Frames {
    State& s;

    void LeavePage() { s.CurrentPageFeature.Reset(); }
    template <class Body>
    void HandBack(const std::optional<SeriesPage>& at, Body&& body) {
        if (!at) return;
        s.CurrentPageFeature = at->feature;
        body();
    }
    ComPtr<ElementContainer> Container(const ComPtr<HostDocument>& document) {
        return document->ActiveViewContainer();
    }
    template <class Body>
    void Anchor(Body&& body) {
        Nested(CRV_PROCEDURE_ID("Anchor"), body);
    }
    bool IsOdd(int32_t page) {
        return Nested(CRV_PROCEDURE_ID("IsOdd"), [&] { return IsOddPage(page); });
    }
    // ParseOutPages followed by ExistsInCollection, as one placement asks them.
    template <class Body>
    void PageList(PageListStep step, Body&& body) {
        if (step == PageListStep::Read) {
            Nested(CRV_PROCEDURE_ID("ParseOutPages"), body);
        } else {
            Nested(CRV_PROCEDURE_ID("ExistsInCollection"), body);
        }
    }
    template <class Body>
    void Measure(bool toPage, Body&& body) {
        if (toPage) {
            Nested(CRV_PROCEDURE_ID("AnchorElementToPage"), body);
        } else {
            Nested(CRV_PROCEDURE_ID("AnchorElementToElement"), body);
        }
    }
    bool PointCodes(const AnchorRule& rule, bool toPage) {
        const char* source =
            toPage ? "CRVAnchorManager.AnchorElementToPage" : "CRVAnchorManager.AnchorElementToElement";
        RequirePointCode(rule.AnchorTo, "target", source);
        RequirePointCode(rule.AnchorFrom, "element's own", source);
        return true;
    }
};

void CRVAnchorManager::AnchorElement(const int32_t& PageNumber) {
    TopLevel(CRV_PROCEDURE_ID("AnchorElement"), [&] {
        if (!s_.ElementIsSet) {
            Raise(kAnchorErrorNumber, "CRVAnchorManager.AnchorElement", "AnchorElement has not been set.");
        }
        static const ComPtr<SeriesLayer> kNoLayer;
        static const ComPtr<MapSeriesFrame> kNoSeries;
        const bool fields = s_.UseFieldDistances;
        const PlacementSubject subject{s_.Record, s_.AnchoredElement, s_.ReferenceElement,
                                       fields ? s_.SeriesFrame : kNoSeries, fields ? s_.SeriesIndexLayer : kNoLayer};
        Frames frames{s_};
        // The plan, then the move, inside the procedure that measured it.
        PlaceOnPage(subject, PageNumber, alternatePages_, frames,
                    [&](const PlacementStep& step, const ComPtr<ElementContainer>& container,
                        const ComPtr<LayoutView>& view) {
                        s_.AnchoredElement->Move(step.displacement.x, step.displacement.y);
                        container->UpdateElement(s_.AnchoredElement);
                        view->PartialRefresh(LayoutView::kPhaseGraphics, ComPtr<Unknown>(s_.AnchoredElement), {});
                    });
    });
}

#undef CRV_PROCEDURE_ID

}  // namespace crv
