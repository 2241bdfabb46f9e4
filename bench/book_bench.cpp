// What a map book costs: opening a document whose index layer has 100 or 10,000 sheets, showing
// one page (companions set, four elements placed) in each, and saving the document. Showing a
// page should cost the same whatever the length of the series.

#include "errors/ErrorHandling.h"
#include "standalone/host/Activation.h"
#include "standalone/book/Book.h"
#include "standalone/cli/Cli.h"
#include "standalone/document/Document.h"
#include "standalone/document/SeriesSource.h"
#include "standalone/tools/Registration.h"

#include <gdal.h>
#include <ogrsf_frmts.h>

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

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

void BM_ShowPage(benchmark::State& state) {
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
    MapBook book(doc);
    state.counters["anchored"] = static_cast<double>(book.AnchorOrder().size());
    if (book.AnchorOrder().empty()) state.SkipWithError("no element of the book is anchored");
    int32_t page = 1;
    for (auto _ : state) {
        book.ShowPage(page);
        page = page % sheets + 1;
    }
    if (!sink.reports.empty()) state.SkipWithError("the engine reported an error");
}
BENCHMARK(BM_ShowPage)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

void BM_SaveDocument(benchmark::State& state) {
    const fs::path dir = MakeBook(static_cast<int>(state.range(0)));
    StandaloneHost host;
    Document doc(host);
    doc.Load(dir / "book.json");
    for (auto _ : state) doc.Save(dir / "saved.json");
}
BENCHMARK(BM_SaveDocument)->Arg(100)->Arg(10000)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
