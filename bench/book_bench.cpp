// What a map book costs: opening a document whose index layer has 100 or 10,000 sheets, showing
// one page (companions set, four elements placed) in each, and saving the document. Showing a
// page should cost the same whatever the length of the series. Then a wide layout of 500 or
// 5,000 anchored elements: selecting them and settling their order, telling its cycles, and a
// page as the report takes it; each should cost ten times as much for ten times the elements.

#include "errors/ErrorHandling.h"
#include "support/Activation.h"
#include "standalone/mapbook/Book.h"
#include "standalone/cli/Cli.h"
#include "standalone/document/Document.h"
#include "standalone/document/SeriesSource.h"
#include "book/Checks.h"
#include "standalone/tools/Registration.h"

#include <gdal.h>
#include <ogrsf_frmts.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace fs = std::filesystem;
using namespace crv;
using namespace crv::standalone;

namespace {

// The command and the book reach the engine through the registry: the component library
// registered into a registry of the benchmark's own, before any record is given.
void RegisterComponentOnce(const fs::path& dir) {
    static const bool registered = [&] {
        ::setenv("CRVANCHOR_REGISTRY", (dir / "registry.db").c_str(), 1);
        return tools::RegisterServer(CRV_LIBRARY_PATH, false).code == 0;
    }();
    if (!registered) std::abort();
}

// A folder with a document over a grid of `sheets` sheets, made once per size.
fs::path MakeBook(int sheets) {
    static std::map<int, fs::path> made;
    if (auto it = made.find(sheets); it != made.end()) return it->second;
    std::string pattern = (fs::temp_directory_path() / "crvbench.XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    const fs::path dir = pattern;
    RegisterComponentOnce(dir);

    GDALDriver* driver = GDALDriver::FromHandle(static_cast<GDALDriverH>(standalone::VectorDriverForExtension("gpkg")));
    GDALDataset* ds = driver->Create((dir / "sheets.gpkg").c_str(), 0, 0, 0, GDT_Unknown, nullptr);
    OGRLayer* layer = ds->CreateLayer("sheets", nullptr, wkbPolygon, nullptr);
    OGRFieldDefn page("PAGE_NO", OFTInteger), dx("DX", OFTReal), name("NAME", OFTString);
    if (layer->CreateField(&page) != OGRERR_NONE || layer->CreateField(&dx) != OGRERR_NONE ||
        layer->CreateField(&name) != OGRERR_NONE || layer->StartTransaction() != OGRERR_NONE) {
        std::abort();
    }
    for (int i = 0; i < sheets; ++i) {
        OGRFeature* f = OGRFeature::CreateFeature(layer->GetLayerDefn());
        f->SetField("PAGE_NO", i + 1);
        if (i % 5 != 0) f->SetField("DX", -0.1 - 0.01 * (i % 10));
        f->SetField("NAME", ("Sheet " + std::to_string(i + 1)).c_str());
        const double x = 10000.0 * (i % 100), y = 10000.0 * (i / 100);
        OGRLinearRing ring;
        ring.addPoint(x, y);
        ring.addPoint(x + 10000, y);
        ring.addPoint(x + 10000, y + 10000);
        ring.addPoint(x, y + 10000);
        ring.addPoint(x, y);
        OGRPolygon poly;
        poly.addRing(&ring);
        f->SetGeometry(&poly);
        if (layer->CreateFeature(f) != OGRERR_NONE) std::abort();
        OGRFeature::DestroyFeature(f);
    }
    if (layer->CommitTransaction() != OGRERR_NONE) std::abort();
    GDALClose(ds);

    std::ofstream(dir / "book.json") << R"({"format": "crvanchor-document", "version": 1,
      "page": {"width": 8.5, "height": 11},
      "elements": [
        {"type": "map_frame", "name": "Map", "outline": [0.75, 1.6, 7.75, 9.4],
         "series": {"dataset": "sheets.gpkg", "order_field": "PAGE_NO"}},
        {"type": "text", "name": "Title", "rect": [0, 0, 7, 0.45], "text": "{field:NAME}"},
        {"type": "text", "name": "Folio", "rect": [0, 0, 0.6, 0.3], "text": "{page}"},
        {"type": "picture", "name": "Arrow", "rect": [0, 0, 0.4, 0.6]}],
      "series_layouts": [{"name": "Atlas", "current_page": {"kind": "int32", "value": 1}}],
      "active_layout": {"name": "Atlas", "kind": "SeriesLayout"}})";
    const std::string doc = (dir / "book.json").string();
    std::ostringstream out, err;
    RunCrvAnchor({"anchor", doc, "Title", "AnchorElement=true", "AnchorPriority=HIGH", "AnchorFromAll=Top Center",
                  "AnchorToAll=Top Center", "VDistanceAll=-0.4"},
                 out, err);
    RunCrvAnchor(
        {"anchor", doc, "Folio", "AnchorElement=true", "AnchorFromAll=Bottom Right", "AnchorToAll=Bottom Right",
         "UseAltAnchoring=true", "AnchorFromAlt=Bottom Left", "AnchorToAlt=Bottom Left"},
        out, err);
    RunCrvAnchor({"anchor", doc, "Arrow", "AnchorElement=true", "AnchorType=NamedElement", "ElementName=Map",
                  "AnchorFromAll=Top Right", "AnchorToAll=Top Right", "HFromFieldAll=true", "HFieldNameAll=DX"},
                 out, err);
    made[sheets] = dir;
    return dir;
}

void BM_LoadDocument(benchmark::State& state) {
    const fs::path dir = MakeBook(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        StandaloneHost host;
        Document doc(host);
        doc.Load(dir / "book.json");
        benchmark::DoNotOptimize(host.State().elements.size());
    }
}
BENCHMARK(BM_LoadDocument)->Arg(100)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_PlacePage(benchmark::State& state) {
    const int sheets = static_cast<int>(state.range(0));
    const fs::path dir = MakeBook(sheets);
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    StandaloneHost host;
    // The engine comes from the component library through a registry of the run's own.
    const fs::path registry = dir / "registry.db";
    ::setenv("CRVANCHOR_REGISTRY", registry.c_str(), 1);
    if (tools::RegisterServer(CRV_LIBRARY_PATH, false).code != 0) {
        state.SkipWithError("the component library could not be registered");
        return;
    }
    Document doc(host);
    doc.Load(dir / "book.json");
    DocumentBook book(doc);
    state.counters["anchored"] = static_cast<double>(book.driver.Selection().Elements().size());
    if (book.driver.Selection().Elements().empty()) state.SkipWithError("no element of the book is anchored");
    int32_t page = 1;
    for (auto _ : state) {
        book.driver.PlacePage(page);
        page = page % sheets + 1;
    }
    if (!sink.reports.empty()) state.SkipWithError("the engine reported an error");
}
BENCHMARK(BM_PlacePage)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_SaveDocument(benchmark::State& state) {
    const fs::path dir = MakeBook(static_cast<int>(state.range(0)));
    StandaloneHost host;
    Document doc(host);
    doc.Load(dir / "book.json");
    for (auto _ : state) doc.Save(dir / "saved.json");
}
BENCHMARK(BM_SaveDocument)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

// A layout of `elements` elements (group members counted) over the 100-sheet series, nearly all
// anchored, most to another element by name: labels in chains, one in seven anchored to the
// page and the rest to the label before, one in nine to the label after it instead (which is
// then placed against the one before: the order given must change); every 50th element a group
// of four members anchored to the map frame, its third member to its first; and a cycle of two.
// Written once per size, records and all.
fs::path MakeWideLayout(int elements) {
    static std::map<int, fs::path> made;
    if (auto it = made.find(elements); it != made.end()) return it->second;
    const fs::path dir = MakeBook(100);
    const fs::path path = dir / ("wide-" + std::to_string(elements) + ".json");
    std::vector<std::pair<std::string, std::string>> anchors;  // element, target ("" the page)
    std::string list = R"({"type": "map_frame", "name": "Map", "outline": [0.75, 1.6, 7.75, 9.4],
      "series": {"dataset": "sheets.gpkg", "order_field": "PAGE_NO"}})";
    auto text = [](const std::string& name, int n) {
        std::ostringstream s;
        const double x = 0.5 + (n * 37 % 720) / 100.0, y = 0.5 + (n * 53 % 980) / 100.0;
        s << R"({"type": "text", "name": ")" << name << R"(", "rect": [)" << x << ", " << y << ", " << x + 0.3 << ", "
          << y + 0.1 << "]}";
        return s.str();
    };
    list += ", " + text("Ring A", 0) + ", " + text("Ring B", 0);
    anchors.insert(anchors.end(), {{"Ring A", "Ring B"}, {"Ring B", "Ring A"}});
    std::string before, forward;  // the label placed last, the one before a label anchored ahead
    int made_count = 3;
    for (int n = 1; made_count < elements; ++n) {
        if (n % 50 == 0 && elements - made_count >= 5) {
            const std::string group = "Group " + std::to_string(n);
            std::string members;
            for (int k = 0; k < 4; ++k) members += (k ? ", " : "") + text(group + " item " + std::to_string(k), n + k);
            list += R"(, {"type": "group", "name": ")" + group + R"(", "members": [)" + members + "]}";
            anchors.insert(anchors.end(), {{group, "Map"}, {group + " item 2", group + " item 0"}});
            made_count += 5;
            continue;
        }
        const std::string name = "Label " + std::to_string(n);
        list += ", " + text(name, n);
        if (n % 7 == 0 || before.empty()) {
            anchors.emplace_back(name, "");
        } else if (n % 9 == 0 && (n + 1) % 50 != 0 && made_count + 1 < elements) {
            anchors.emplace_back(name, "Label " + std::to_string(n + 1));
            forward = before;
        } else {
            anchors.emplace_back(name, forward.empty() ? before : forward);
            forward.clear();
        }
        if (forward.empty()) before = name;
        ++made_count;
    }
    std::ofstream(path) << R"({"format": "crvanchor-document", "version": 1, "page": {"width": 8.5, "height": 11},
      "elements": [)" << list
                        << R"(],
      "series_layouts": [{"name": "Atlas", "current_page": {"kind": "int32", "value": 1}}],
      "active_layout": {"name": "Atlas", "kind": "SeriesLayout"}})";

    StandaloneHost host;
    Document doc(host);
    doc.Load(path);
    std::map<std::string, ComPtr<LayoutElement>> byName;
    WalkElements(host.State().elements,
                 [&](const ComPtr<LayoutElement>& e, const std::string&) { byName[e->Name()] = e; });
    auto manager = CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId);
    const int16_t priorities[] = {kPriorityHigh, kPriorityMedium, kPriorityLow};
    size_t n = 0;
    for (const auto& [name, target] : anchors) {
        const ComPtr<LayoutElement>& e = byName.at(name);
        const int16_t corner = target.empty() ? 6 : 1;  // bottom left on the page, else top centre
        ComPtr<PropertyBag> r = manager->MakeAnchorProperties();
        r->SetProperty(key::AnchorElement, true);
        r->SetProperty(key::AnchorType, target.empty() ? kAnchorTypeLayout : kAnchorTypeNamedElement);
        if (!target.empty()) r->SetProperty(key::ElementName, target);
        r->SetProperty(key::AnchorPriority, priorities[n++ % 3]);
        r->SetProperty(key::AnchorFromAll, corner);
        r->SetProperty(key::AnchorToAll, corner);
        r->SetProperty(key::VDistanceAll, target.empty() ? 0.5 : 0.12);
        manager->AddAnchorProperties(e, r);
    }
    doc.Save(path);
    made[elements] = path;
    return path;
}

// A wide layout loaded, with the engine reached through the registry as the command reaches it.
struct WideLayout {
    explicit WideLayout(int elements) { doc.Load(MakeWideLayout(elements)); }
    RecordingErrorSink sink;
    ScopedErrorSink scope{sink};
    StandaloneHost host;
    Document doc{host};
};

// Selecting every anchored element through the engine and settling the order they are placed
// in: what a book does before its first page.
void BM_WideLayoutSelect(benchmark::State& state) {
    WideLayout wide(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        DocumentBook book(wide.doc);
        benchmark::DoNotOptimize(book.driver.Selection().Elements().size());
    }
    state.SetComplexityN(state.range(0));
    if (!wide.sink.reports.empty()) state.SkipWithError("the engine reported an error");
}
BENCHMARK(BM_WideLayoutSelect)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

// The cycles of anchors told from the records alone: what `crvanchor show` adds to the listing.
void BM_WideLayoutCycles(benchmark::State& state) {
    WideLayout wide(static_cast<int>(state.range(0)));
    const ComPtr<ElementContainer> layout = RunningApplication()->Document()->PageLayout();
    for (auto _ : state) benchmark::DoNotOptimize(AnchorCycles(layout).size());
}
BENCHMARK(BM_WideLayoutCycles)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

// One page of the book as the report takes it: placed, every element measured with its
// priority, checked, and the findings logged.
void BM_WideLayoutPage(benchmark::State& state) {
    WideLayout wide(static_cast<int>(state.range(0)));
    DocumentBook book(wide.doc);
    state.counters["anchored"] = static_cast<double>(book.driver.Selection().Elements().size());
    CheckLog checks;
    int32_t page = 1;
    for (auto _ : state) {
        book.driver.PlacePage(page);
        const std::vector<Placement> placements = book.surface.Measure(book.driver.Selection());
        checks.AddPage(page, CheckPage(placements, 8.5, 11, false));
        page = page % 100 + 1;
    }
    if (!wide.sink.reports.empty()) state.SkipWithError("the engine reported an error");
}
BENCHMARK(BM_WideLayoutPage)->Arg(500)->Arg(5000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
