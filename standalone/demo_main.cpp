// A small map book in memory: a title, a folio that mirrors on facing pages and a north
// arrow whose offsets come from the map series, placed page by page through the engine.

#include "anchor/AnchorRecord.h"
#include "anchor/CRVAnchorManager.h"
#include "errors/ErrorHandling.h"
#include "standalone/StandaloneHost.h"

#include <cstdio>
#include <map>
#include <string>

using namespace crv;
using standalone::Rect;
using standalone::StandaloneHost;

namespace {

void GiveRecord(const ComPtr<_CRVAnchorManager>& manager, const ComPtr<LayoutElement>& element,
                const std::map<std::string, Variant>& keys) {
    ComPtr<PropertyBag> record = manager->MakeAnchorProperties();
    record->SetProperty(key::AnchorElement, true);
    for (const auto& [k, v] : keys) record->SetProperty(k, v);
    manager->AddAnchorProperties(element, record);
}

std::string Describe(const Rect& r) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "(%6.3f, %6.3f) - (%6.3f, %6.3f)", r.xmin, r.ymin, r.xmax, r.ymax);
    return buf;
}

}  // namespace

int main() {
    StderrErrorSink sink;
    ScopedErrorSink scope(sink);
    StandaloneHost host({8.5, 11.0, true});

    auto map = host.AddMapFrame("Main Map", {0.75, 1.5, 7.75, 9.5}, 0.05);
    standalone::SeriesData series;
    series.fields = {{"OBJECTID", fieldtype::kObjectId}, {"Sheet", fieldtype::kString}, {"ArrowDX", fieldtype::kDouble},
                     {"ArrowDY", fieldtype::kDouble}};
    series.features = {{int32_t{1}, "A1", -0.25, -0.25}, {int32_t{2}, "A2", -0.5, -0.25},
                       {int32_t{3}, "B1", Variant::Null(), -0.5}, {int32_t{4}, "B2", -0.75, -0.75}};
    host.AttachSeries(map, series);
    auto title = host.AddText("Title", {2, 2, 6.5, 2.6}, "Coastal Atlas");
    auto folio = host.AddText("Page Number", {3, 3, 3.6, 3.3}, "1");
    auto arrow = host.AddPicture("North Arrow", {1, 1, 1.5, 1.6});

    ComPtr<_CRVAnchorManager> manager = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
    GiveRecord(manager, title, {{key::AnchorFromAll, int16_t{1}}, {key::AnchorToAll, int16_t{1}},
                                {key::VDistanceAll, -0.4}, {key::AnchorPriority, kPriorityHigh}});
    GiveRecord(manager, folio, {{key::AnchorFromAll, int16_t{8}}, {key::AnchorToAll, int16_t{8}},
                                {key::HDistanceAll, -0.5}, {key::VDistanceAll, 0.5}, {key::UseAltAnchoring, true},
                                {key::AltAnchorType, kAltEvenPages}, {key::AnchorFromAlt, int16_t{6}},
                                {key::AnchorToAlt, int16_t{6}}, {key::HDistanceAlt, 0.5}, {key::VDistanceAlt, 0.5}});
    GiveRecord(manager, arrow, {{key::AnchorType, kAnchorTypeNamedElement}, {key::ElementName, "Main Map"},
                                {key::AnchorFromAll, int16_t{2}}, {key::AnchorToAll, int16_t{2}},
                                {key::HDistanceAll, -0.1}, {key::VDistanceAll, -0.1}, {key::HFromFieldAll, true},
                                {key::HFieldNameAll, "ArrowDX"}, {key::VFromFieldAll, true}, {key::VFieldNameAll, "ArrowDY"}});

    const std::pair<const char*, ComPtr<LayoutElement>> elements[] = {
        {"Title", title}, {"Page Number", folio}, {"North Arrow", arrow}};
    std::printf("Map book of %zu pages on an 8.5 x 11 page (inches)\n", series.features.size());
    for (int32_t page = 1; page <= static_cast<int32_t>(series.features.size()); ++page) {
        std::printf("\nPage %d\n", page);
        for (const auto& [name, element] : elements) {
            ComPtr<_CRVAnchorManager> m = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
            m->SetAnchorElement(element);
            m->AnchorElement(page);
            std::printf("  %-12s %-7s %s\n", name, kPriorityLabels[static_cast<size_t>(m->AnchorPriority(element))],
                        Describe(StandaloneHost::ExtentOf(element)).c_str());
        }
    }
    return sink.Count() == 0 ? 0 : 1;
}
