#include "anchor/PlacementPlan.h"

#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "host/Companions.h"

#include <cmath>

namespace crv {

namespace {

// The host hands numbers over as variants, nearly always of the very type asked for; only
// other kinds need the general conversion.
int32_t LongOf(const Variant& v) { return v.Type() == VariantType::Long ? v.AsLong() : CLng(v); }
double DoubleOf(const Variant& v) { return v.Type() == VariantType::Double ? v.AsDouble() : CDbl(v); }

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

}  // namespace

void RaiseNoPageListed() {
    Raise(kAnchorErrorNumber, "CRVAnchorManager.ExistsInCollection", "The alternate page range lists no page number.");
}

void RaiseNoSeriesFields() {
    Raise(kAnchorErrorNumber, "CRVAnchorManager.SetAnchorElement", "Error accessing parent Map Series Frame fields.");
}

Point CheckedDisplacement(int32_t from, int32_t to, const Extent& target, const Extent& e, double h, double v) {
    const Point d = Displacement(from, to, target, e, h, v);
    if (!std::isfinite(d.x) || !std::isfinite(d.y)) Raise(vberr::kOverflow, "CRVAnchor", "Overflow");
    RequireWithinReach(e, d.x, d.y);
    return d;
}

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

std::optional<SeriesPage> SeriesPageOf(const ComPtr<MapSeriesFrame>& series, int32_t page) {
    const int32_t count = LongOf(series->PageCount());
    const int32_t first = LongOf(series->FirstPageNumber());
    const int32_t last = CheckedSub(CheckedAdd(count, first), 1);
    if (page > last || page < first) return std::nullopt;
    const int32_t position = CheckedAdd(CheckedSub(page, first), 1);
    return SeriesPage{position, series->FeatureAt(position)};
}

int32_t SectionOffset() {
    const ComPtr<ActiveLayoutInfo> info = CompanionOrNothing(&NewActiveLayoutInfo);
    if (!info || info->LayoutKind() != ActiveLayoutInfo::kSectionTemplate) return 1;
    const ComPtr<SectionTemplateInfo> sections = NewSectionTemplateInfo();
    const std::string name = info->LayoutName();
    const std::string section = sections->CurrentSection(name);
    return LongOf(sections->SectionPage(name, section));
}

int32_t TestedPage(int32_t page, int32_t offset) { return CheckedSub(CheckedAdd(page, offset), 1); }

int32_t PageInForce() {
    const ComPtr<ActiveLayoutInfo> info = CompanionOrNothing(&NewActiveLayoutInfo);
    if (!info) return 1;
    const std::string name = info->LayoutName();
    const std::string kind = info->LayoutKind();
    if (kind == ActiveLayoutInfo::kSeriesLayout) return CLng(NewSeriesLayoutInfo()->CurrentPage(name));
    if (kind == ActiveLayoutInfo::kSectionTemplate) {
        const ComPtr<SectionTemplateInfo> sections = NewSectionTemplateInfo();
        const int32_t start = CLng(sections->StartingPage(name));
        const std::string section = sections->CurrentSection(name);
        const int32_t page = CLng(sections->SectionPage(name, section));
        return TestedPage(start, page);
    }
    return 1;
}

double RuleDistance(double fixed, bool fromField, const std::string& fieldName, const ComPtr<SeriesLayer>& layer,
                    const ComPtr<PageFeature>& feature) {
    if (!layer || !fromField || fieldName == kNone) return fixed;
    const int32_t index = layer->Table()->FindField(fieldName);
    if (index == -1) return fixed;
    if (!feature) {
        Raise(vberr::kObjectVariableNotSet, "CRVAnchorManager.Anchor",
              "The page is outside the map series, so the field " + fieldName + " has no value for it.");
    }
    const Variant value = feature->Value(index);
    if (value.IsNull()) return fixed;
    return DoubleOf(value);
}

bool SeriesHasDistanceFields(const AnchorRecord& r, const ComPtr<FieldSet>& fields) {
    const std::string* names[4] = {&r.All.HFieldName, &r.All.VFieldName, &r.Alt.HFieldName, &r.Alt.VFieldName};
    bool found[4] = {false, false, false, false};
    const int32_t count = fields->FieldCount();
    for (int32_t i = 0; i < count; ++i) {
        const ComPtr<Field> field = fields->FieldAt(i);
        if (!GeneralFunctions::IsDistanceFieldType(field->Type())) continue;
        const std::string name = field->Name();
        for (int k = 0; k < 4; ++k) {
            if (name == *names[k]) found[k] = true;
        }
    }
    for (int k = 0; k < 4; ++k) {
        if (*names[k] != kNone && !found[k]) return false;
    }
    return true;
}

void BindDistanceSeries(const AnchorRecord& r, const ComPtr<LayoutElement>& target, ComPtr<MapSeriesFrame>& frame,
                        ComPtr<MapFrame>& mapFrame, ComPtr<SeriesLayer>& layer, ComPtr<FieldSet>& fields) {
    frame = NewMapSeriesFrame();
    mapFrame = ComPtr<MapFrame>::Query(target);
    frame->Bind(mapFrame);
    layer = frame->IndexLayer();
    fields = layer->Table()->Fields();
    if (!SeriesHasDistanceFields(r, fields)) {
        fields.Reset();
        layer.Reset();
        mapFrame.Reset();
        frame.Reset();
        RaiseNoSeriesFields();
    }
}

PlacementPlan PlanPlacement(const AnchorRecord& r, const ComPtr<LayoutElement>& element, int32_t page,
                            const PlanHost& host) {
    PlacementPlan plan;
    plan.anchorability = CheckAnchorability(r, {{}, host.find});
    if (plan.anchorability.why != NotAnchored::None) return plan;
    const ComPtr<LayoutElement>& target = plan.anchorability.target;
    ComPtr<MapSeriesFrame> series;
    ComPtr<MapFrame> mapFrame;
    ComPtr<SeriesLayer> layer;
    ComPtr<FieldSet> fields;
    if (target && (r.All.AnyFromField() || r.Alt.AnyFromField())) {
        BindDistanceSeries(r, target, series, mapFrame, layer, fields);
    }

    AlternatePages pages;
    ToolFrames frames;
    PlaceOnPage({r, element, target, series, layer}, page, pages, frames,
                [&](const PlacementStep& step, const ComPtr<ElementContainer>&, const ComPtr<LayoutView>&) {
                    plan.alternate = step.alternate;
                    plan.rule = *step.rule;
                    plan.h = step.h;
                    plan.v = step.v;
                    plan.element = step.element;
                    plan.target = step.target;
                    if (step.points) {
                        plan.from = step.from;
                        plan.to = step.to;
                        plan.displacement = step.displacement;
                    }
                });
    return plan;
}

}  // namespace crv
