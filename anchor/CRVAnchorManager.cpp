#include "anchor/CRVAnchorManager.h"

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"

#include <cmath>

namespace crv {

namespace {

namespace gf = GeneralFunctions;

std::string Id(const char* name) { return ProcedureId(name, CRVAnchorManager::kModule); }

int32_t CheckedAdd(int32_t a, int32_t b) {
    int32_t r = 0;
    if (__builtin_add_overflow(a, b, &r)) Raise(vberr::kOverflow, "CRVAnchor", "Overflow");
    return r;
}

int32_t CheckedSub(int32_t a, int32_t b) {
    int32_t r = 0;
    if (__builtin_sub_overflow(a, b, &r)) Raise(vberr::kOverflow, "CRVAnchor", "Overflow");
    return r;
}

ComPtr<PropertyBag> RecordOf(const ComPtr<LayoutElement>& element) {
    const ComPtr<PropertyBag> outer = gf::ToPropertyBag(element->CustomProperty());
    const ComPtr<PropertyBag> family = gf::ToPropertyBag(outer->GetProperty(kCorvaneProperties));
    return gf::ToPropertyBag(family->GetProperty(kAnchorProperties));
}

struct Extent {
    double xmin, ymin, xmax, ymax, width, height;
};

Extent ExtentOf(const ComPtr<Envelope>& e) {
    return {e->XMin(), e->YMin(), e->XMax(), e->YMax(), e->Width(), e->Height()};
}

// A map frame is measured by its outline, any other element by its bounds.
Extent ElementExtent(const ComPtr<LayoutElement>& element, const ComPtr<Display>& display) {
    if (ComPtr<MapFrame>::Query(element)) {
        const ComPtr<Polygon> outline = NewPolygon();
        element->QueryOutline(display, outline);
        const ComPtr<Envelope> envelope = outline->GetEnvelope();
        const ComPtr<Envelope> copy = NewEnvelope();
        copy->PutCoords(envelope->XMin(), envelope->YMin(), envelope->XMax(), envelope->YMax());
        return ExtentOf(copy);
    }
    const ComPtr<Envelope> bounds = NewEnvelope();
    element->QueryBounds(display, bounds);
    return ExtentOf(bounds);
}

void RequirePointCode(int16_t code, const char* which, const char* source) {
    if (!IsPointCode(code)) {
        Raise(kAnchorErrorNumber, source,
              std::string("Undefined anchor point code ") + std::to_string(code) + " for the " + which +
                  " point; codes are 0 to 8.");
    }
}

// How far from the page an element may be put, in page units. Far beyond any real layout, yet
// near enough that a double keeps the element's size exact: a distance such as a field's
// no-data value (-3.4e38) would otherwise collapse the element to nothing, for good.
constexpr double kPageReach = 1e6;

// Refuses a move that would take the element out of reach; it then stays where it was.
void RequireWithinReach(const Extent& e, double dx, double dy) {
    const double edges[4] = {e.xmin + dx, e.ymin + dy, e.xmax + dx, e.ymax + dy};
    for (const double edge : edges) {
        if (!(std::fabs(edge) <= kPageReach)) {
            const RegionalSettings& rs = RegionalSettings::Current();
            Raise(kAnchorErrorNumber, "CRVAnchor",
                  "Moving the element by (" + FormatGeneral(dx, rs) + ", " + FormatGeneral(dy, rs) +
                      ") would put it more than " + FormatGeneral(kPageReach, rs) +
                      " page units from the page; it stays where it was.");
        }
    }
}

// The displacement that brings the element's own point onto (tx + h, ty + v).
void Place(const ComPtr<LayoutElement>& element, int16_t from, int16_t to, double h, double v,
           const Extent& target, const Extent& e) {
    const int32_t toRow = PointRow(to);
    const int32_t toCol = PointColumn(to);
    const double ty = toRow == 0 ? target.ymax : toRow == 1 ? (target.ymin + target.ymax) / 2.0 : target.ymin;
    const double tx = toCol == 0 ? target.xmin : toCol == 1 ? (target.xmin + target.xmax) / 2.0 : target.xmax;
    double dy = ty - e.ymax + v;
    double dx = tx - e.xmin + h;
    const int32_t fromRow = PointRow(from);
    const int32_t fromCol = PointColumn(from);
    if (fromRow == 1) dy = dy + e.height / 2.0;
    if (fromRow == 2) dy = dy + e.height;
    if (fromCol == 1) dx = dx - e.width / 2.0;
    if (fromCol == 2) dx = dx - e.width;
    if (!std::isfinite(dx) || !std::isfinite(dy)) Raise(vberr::kOverflow, "CRVAnchor", "Overflow");
    RequireWithinReach(e, dx, dy);
    element->Move(dx, dy);
}

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
            Raise(kAnchorErrorNumber, "CRVAnchorManager.AddAnchorProperties", "Error attempting to set Anchor properties.");
        }
    });
}

void CRVAnchorManager::RemoveAnchorProperties(const ComPtr<LayoutElement>& pElement) {
    TopLevel(Id("RemoveAnchorProperties"), [&] { gf::DeleteAnchorProperties(pElement); });
}

bool CRVAnchorManager::CanAnchor(const ComPtr<LayoutElement>& pElement) {
    return TopLevel(Id("CanAnchor"), false, [&] {
        if (!gf::HasAnchorProperties(pElement)) return false;
        const ComPtr<PropertyBag> r = RecordOf(pElement);
        // Every key is read and converted, so a record that cannot be read is not anchorable.
        const bool anchorElement = CBool(r->GetProperty(key::AnchorElement));
        const std::string anchorType = CStr(r->GetProperty(key::AnchorType));
        const std::string elementName = CStr(r->GetProperty(key::ElementName));
        CBool(r->GetProperty(key::UseAltAnchoring));
        CInt(r->GetProperty(key::AltAnchorType));
        CStr(r->GetProperty(key::AltAnchorPageRange));
        CInt(r->GetProperty(key::AnchorFromAll));
        CInt(r->GetProperty(key::AnchorToAll));
        CDbl(r->GetProperty(key::HDistanceAll));
        const bool hAll = CBool(r->GetProperty(key::HFromFieldAll));
        CStr(r->GetProperty(key::HFieldNameAll));
        CDbl(r->GetProperty(key::VDistanceAll));
        const bool vAll = CBool(r->GetProperty(key::VFromFieldAll));
        CStr(r->GetProperty(key::VFieldNameAll));
        CInt(r->GetProperty(key::AnchorFromAlt));
        CInt(r->GetProperty(key::AnchorToAlt));
        CDbl(r->GetProperty(key::HDistanceAlt));
        const bool hAlt = CBool(r->GetProperty(key::HFromFieldAlt));
        CStr(r->GetProperty(key::HFieldNameAlt));
        CDbl(r->GetProperty(key::VDistanceAlt));
        const bool vAlt = CBool(r->GetProperty(key::VFromFieldAlt));
        CStr(r->GetProperty(key::VFieldNameAlt));
        CInt(r->GetProperty(key::AnchorPriority));
        CBool(r->GetProperty(key::CanAnchor));

        if (!anchorElement) return false;
        const ComPtr<HostDocument> document = RunningApplication()->Document();
        if (anchorType == kAnchorTypeLayout) return true;
        if (anchorType != kAnchorTypeNamedElement) return false;
        if (elementName == kNone) return false;
        const ComPtr<LayoutElement> target = gf::FindElementByName(document, elementName);
        if (!target) return false;
        if (!hAll && !vAll && !hAlt && !vAlt) return true;
        const ComPtr<MapFrame> frame = ComPtr<MapFrame>::Query(target);
        if (!frame) return false;
        const ComPtr<MapSeriesFrame> series = CompanionOrNothing(&NewMapSeriesFrame);
        if (!series || !series->HasSeries(frame)) return false;
        return series->IsSeriesEnabled(frame);
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

        const ComPtr<PropertyBag> r = RecordOf(pElement);
        s_.AnchorType = CStr(r->GetProperty(key::AnchorType));
        s_.ElementName = CStr(r->GetProperty(key::ElementName));
        s_.UseAltAnchoring = CBool(r->GetProperty(key::UseAltAnchoring));
        s_.AltAnchorType = CInt(r->GetProperty(key::AltAnchorType));
        s_.AltAnchorPageRange = CStr(r->GetProperty(key::AltAnchorPageRange));
        s_.AnchorFromAll = CInt(r->GetProperty(key::AnchorFromAll));
        s_.AnchorToAll = CInt(r->GetProperty(key::AnchorToAll));
        s_.HDistanceAll = CDbl(r->GetProperty(key::HDistanceAll));
        s_.HFromFieldAll = CBool(r->GetProperty(key::HFromFieldAll));
        s_.HFieldNameAll = CStr(r->GetProperty(key::HFieldNameAll));
        s_.VDistanceAll = CDbl(r->GetProperty(key::VDistanceAll));
        s_.VFromFieldAll = CBool(r->GetProperty(key::VFromFieldAll));
        s_.VFieldNameAll = CStr(r->GetProperty(key::VFieldNameAll));
        s_.AnchorFromAlt = CInt(r->GetProperty(key::AnchorFromAlt));
        s_.AnchorToAlt = CInt(r->GetProperty(key::AnchorToAlt));
        s_.HDistanceAlt = CDbl(r->GetProperty(key::HDistanceAlt));
        s_.HFromFieldAlt = CBool(r->GetProperty(key::HFromFieldAlt));
        s_.HFieldNameAlt = CStr(r->GetProperty(key::HFieldNameAlt));
        s_.VDistanceAlt = CDbl(r->GetProperty(key::VDistanceAlt));
        s_.VFromFieldAlt = CBool(r->GetProperty(key::VFromFieldAlt));
        s_.VFieldNameAlt = CStr(r->GetProperty(key::VFieldNameAlt));
        s_.AnchorPriority = CInt(r->GetProperty(key::AnchorPriority));

        s_.ElementCanAnchor = CanAnchor(s_.AnchoredElement);
        s_.UseFieldDistances = false;
        if (!s_.ElementCanAnchor) {
            Raise(kAnchorErrorNumber, "CRVAnchorManager.SetAnchorElement", "Error setting anchor properties.");
        }
        if (s_.AnchorType != kAnchorTypeNamedElement) {
            s_.ElementIsSet = true;
            return;
        }
        s_.ReferenceElement = gf::FindElementByName(document, s_.ElementName);
        if (!s_.HFromFieldAll && !s_.VFromFieldAll && !s_.HFromFieldAlt && !s_.VFromFieldAlt) {
            s_.ElementIsSet = true;
            return;
        }
        s_.SeriesFrame = NewMapSeriesFrame();
        s_.ReferenceMapFrame = ComPtr<MapFrame>::Query(s_.ReferenceElement);
        s_.SeriesFrame->Bind(s_.ReferenceMapFrame);
        s_.SeriesIndexLayer = s_.SeriesFrame->IndexLayer();
        s_.IndexFields = s_.SeriesIndexLayer->Table()->Fields();

        const std::string* names[4] = {&s_.HFieldNameAll, &s_.VFieldNameAll, &s_.HFieldNameAlt, &s_.VFieldNameAlt};
        bool found[4] = {false, false, false, false};
        const int32_t count = s_.IndexFields->FieldCount();
        for (int32_t i = 0; i < count; ++i) {
            const ComPtr<Field> field = s_.IndexFields->FieldAt(i);
            const int32_t type = field->Type();
            const bool numeric = type == fieldtype::kSmallInteger || type == fieldtype::kInteger ||
                                 type == fieldtype::kSingle || type == fieldtype::kDouble ||
                                 type == fieldtype::kObjectId;
            if (!numeric) continue;
            const std::string name = field->Name();
            for (int k = 0; k < 4; ++k) {
                if (name == *names[k]) found[k] = true;
            }
        }
        bool passed = true;
        for (int k = 0; k < 4; ++k) {
            if (*names[k] != kNone && !found[k]) passed = false;
        }
        if (passed) {
            s_.UseFieldDistances = true;
            s_.ElementIsSet = true;
            return;
        }
        s_.IndexFields.Reset();
        s_.SeriesIndexLayer.Reset();
        s_.ReferenceMapFrame.Reset();
        s_.SeriesFrame.Reset();
        Raise(kAnchorErrorNumber, "CRVAnchorManager.SetAnchorElement", "Error accessing parent Map Series Frame fields.");
    });
}

void CRVAnchorManager::AnchorElement(const int32_t& PageNumber) {
    TopLevel(Id("AnchorElement"), [&] {
        int32_t page = PageNumber;
        if (!s_.ElementIsSet) {
            Raise(kAnchorErrorNumber, "CRVAnchorManager.AnchorElement", "AnchorElement has not been set.");
        }
        if (s_.UseFieldDistances) {
            const int32_t count = CLng(s_.SeriesFrame->PageCount());
            const int32_t first = CLng(s_.SeriesFrame->FirstPageNumber());
            const int32_t last = CheckedSub(CheckedAdd(count, first), 1);
            if (page > last || page < first) {
                s_.CurrentPageFeature.Reset();
            } else {
                const int32_t position = CheckedAdd(CheckedSub(page, first), 1);
                s_.CurrentPageFeature = s_.SeriesFrame->FeatureAt(position);
                s_.SeriesFrame->SetCurrentPage(s_.CurrentPageFeature, position);
                page = position;
            }
        }
        int32_t offset = 1;
        if (const ComPtr<ActiveLayoutInfo> info = CompanionOrNothing(&NewActiveLayoutInfo)) {
            if (info->LayoutKind() == ActiveLayoutInfo::kSectionTemplate) {
                const ComPtr<SectionTemplateInfo> sections = NewSectionTemplateInfo();
                const std::string name = info->LayoutName();
                const std::string section = sections->CurrentSection(name);
                offset = CLng(sections->SectionPage(name, section));
            }
        }
        Anchor(page, offset);
    });
}

void CRVAnchorManager::Anchor(int32_t PageNumber, int32_t PageOffset) {
    Nested(Id("Anchor"), [&] {
        const int32_t effective = CheckedSub(CheckedAdd(PageNumber, PageOffset), 1);
        bool alternate = false;
        if (s_.UseAltAnchoring) {
            switch (s_.AltAnchorType) {
                case kAltEvenPages: alternate = !IsOdd(effective); break;
                case kAltOddPages: alternate = IsOdd(effective); break;
                case kAltPageRange:
                    alternate = ExistsInCollection(ParseOutPages(s_.AltAnchorPageRange), effective);
                    break;
                default: alternate = false; break;
            }
        }
        const int16_t from = alternate ? s_.AnchorFromAlt : s_.AnchorFromAll;
        const int16_t to = alternate ? s_.AnchorToAlt : s_.AnchorToAll;
        const double h = alternate ? Distance(s_.HDistanceAlt, s_.HFromFieldAlt, s_.HFieldNameAlt)
                                   : Distance(s_.HDistanceAll, s_.HFromFieldAll, s_.HFieldNameAll);
        const double v = alternate ? Distance(s_.VDistanceAlt, s_.VFromFieldAlt, s_.VFieldNameAlt)
                                   : Distance(s_.VDistanceAll, s_.VFromFieldAll, s_.VFieldNameAll);
        if (s_.AnchorType == kAnchorTypeLayout) {
            AnchorElementToPage(from, to, h, v);
        } else {
            AnchorElementToElement(from, to, h, v);
        }
    });
}

double CRVAnchorManager::Distance(double fixed, bool fromField, const std::string& fieldName) {
    if (!s_.UseFieldDistances || !fromField || fieldName == kNone) return fixed;
    const int32_t index = s_.SeriesIndexLayer->Table()->FindField(fieldName);
    if (index == -1) return fixed;
    if (!s_.CurrentPageFeature) {
        Raise(vberr::kObjectVariableNotSet, "CRVAnchorManager.Anchor",
              "The page is outside the map series, so the field " + fieldName + " has no value for it.");
    }
    const Variant value = s_.CurrentPageFeature->Value(index);
    if (value.IsNull()) return fixed;
    return CDbl(value);
}

void CRVAnchorManager::AnchorElementToPage(int16_t AnchorFrom, int16_t AnchorTo, double HDistance, double VDistance) {
    Nested(Id("AnchorElementToPage"), [&] {
        RequirePointCode(AnchorTo, "target", "CRVAnchorManager.AnchorElementToPage");
        RequirePointCode(AnchorFrom, "element's own", "CRVAnchorManager.AnchorElementToPage");
        const ComPtr<HostDocument> document = RunningApplication()->Document();
        const ComPtr<LayoutView> view = document->ActiveView();
        const ComPtr<ElementContainer> container = document->ActiveViewContainer();
        const ComPtr<Display> display = view->ScreenDisplay();
        const Extent e = ElementExtent(s_.AnchoredElement, display);
        double width = 0;
        double height = 0;
        view->Page()->QuerySize(width, height);
        const Extent page{0, 0, width, height, width, height};
        Place(s_.AnchoredElement, AnchorFrom, AnchorTo, HDistance, VDistance, page, e);
        container->UpdateElement(s_.AnchoredElement);
        view->PartialRefresh(LayoutView::kPhaseGraphics, ComPtr<Unknown>(s_.AnchoredElement), {});
    });
}

void CRVAnchorManager::AnchorElementToElement(int16_t AnchorFrom, int16_t AnchorTo, double HDistance, double VDistance) {
    Nested(Id("AnchorElementToElement"), [&] {
        RequirePointCode(AnchorTo, "target", "CRVAnchorManager.AnchorElementToElement");
        RequirePointCode(AnchorFrom, "element's own", "CRVAnchorManager.AnchorElementToElement");
        const ComPtr<HostDocument> document = RunningApplication()->Document();
        const ComPtr<LayoutView> view = document->ActiveView();
        const ComPtr<ElementContainer> container = document->ActiveViewContainer();
        const ComPtr<Display> display = view->ScreenDisplay();
        const Extent e = ElementExtent(s_.AnchoredElement, display);
        const Extent target = ElementExtent(s_.ReferenceElement, display);
        Place(s_.AnchoredElement, AnchorFrom, AnchorTo, HDistance, VDistance, target, e);
        container->UpdateElement(s_.AnchoredElement);
        view->PartialRefresh(LayoutView::kPhaseGraphics, ComPtr<Unknown>(s_.AnchoredElement), {});
    });
}

std::optional<PageList> CRVAnchorManager::ParseOutPages(const std::string& PageRange) {
    return Nested(Id("ParseOutPages"), [&] { return ReadPageList(PageRange, RegionalSettings::Current()); });
}

bool CRVAnchorManager::ExistsInCollection(const std::optional<PageList>& Pages, int32_t Value) {
    return Nested(Id("ExistsInCollection"), [&] {
        if (!Pages) {
            Raise(kAnchorErrorNumber, "CRVAnchorManager.ExistsInCollection",
                  "The alternate page range lists no page number.");
        }
        return InPageList(*Pages, Value);
    });
}

bool CRVAnchorManager::IsOdd(int32_t Value) {
    return Nested(Id("IsOdd"), [&] { return Value % 2 != 0; });
}

}  // namespace crv
