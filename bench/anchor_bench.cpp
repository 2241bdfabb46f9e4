// What placing costs: one AnchorElement call on short and long map series, a page-list test
// against long ranges, and the host's own move, update and redraw of the same element.

#include "anchor/AnchorRecord.h"
#include "anchor/CRVAnchorManager.h"
#include "errors/ErrorHandling.h"
#include "standalone/host/StandaloneHost.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <unistd.h>
#include <map>
#include <memory>

using namespace crv;
using standalone::StandaloneHost;

namespace {

struct Book {
    explicit Book(int pages) {
        auto frame = host.AddMapFrame("Map", {1, 1, 7, 9});
        objects::SeriesData data;
        data.fields = {{"Dx", fieldtype::kDouble}, {"Dy", fieldtype::kDouble}};
        data.features.reserve(static_cast<size_t>(pages));
        for (int i = 0; i < pages; ++i) data.features.push_back({-0.01 * (i % 50), Variant::Null()});
        host.AttachSeries(frame, data);
        element = host.AddText("Arrow", {0, 0, 1, 1});
        manager = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
        ComPtr<PropertyBag> r = manager->MakeAnchorProperties();
        const std::map<std::string, Variant> keys = {
            {key::AnchorElement, true},          {key::AnchorType, "NamedElement"},
            {key::ElementName, "Map"},           {key::AnchorFromAll, int16_t{2}},
            {key::AnchorToAll, int16_t{2}},      {key::HFromFieldAll, true},
            {key::HFieldNameAll, "Dx"},          {key::VFromFieldAll, true},
            {key::VFieldNameAll, "Dy"},          {key::UseAltAnchoring, true},
            {key::AltAnchorType, kAltPageRange}, {key::AltAnchorPageRange, "1-3, 7, 10-12"}};
        for (const auto& [k, v] : keys) r->SetProperty(k, v);
        manager->AddAnchorProperties(element, r);
        manager->SetAnchorElement(element);
    }
    RecordingErrorSink sink;
    ScopedErrorSink scope{sink};
    StandaloneHost host;
    ComPtr<LayoutElement> element;
    ComPtr<_CRVAnchorManager> manager;
};

void BM_AnchorElement(benchmark::State& state) {
    const int pages = static_cast<int>(state.range(0));
    Book book(pages);
    int32_t page = 1;
    for (auto _ : state) {
        book.manager->AnchorElement(page);
        page = page % pages + 1;
    }
    book.host.State().events.clear();
    if (!book.sink.reports.empty()) state.SkipWithError("the engine reported an error");
}
BENCHMARK(BM_AnchorElement)->Arg(100)->Arg(100000);

// The floor: what the host itself does for one placement.
void BM_HostMoveUpdateRedraw(benchmark::State& state) {
    Book book(1);
    auto doc = RunningApplication()->Document();
    auto view = doc->ActiveView();
    auto container = doc->ActiveViewContainer();
    for (auto _ : state) {
        book.element->Move(0, 0);
        container->UpdateElement(book.element);
        view->PartialRefresh(LayoutView::kPhaseGraphics, ComPtr<Unknown>(book.element), {});
    }
    book.host.State().events.clear();
}
BENCHMARK(BM_HostMoveUpdateRedraw);

void BM_PageListTest(benchmark::State& state) {
    const std::string range = state.range(0) == 0 ? "1-10" : "1-32000";
    const int32_t page = state.range(0) == 0 ? 9 : 31999;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ReadPageList(range, RegionalSettings::Invariant())->Contains(page));
    }
    state.SetLabel(range);
}
BENCHMARK(BM_PageListTest)->Arg(0)->Arg(1);

// Selecting an element aimed at the last of N elements walks the whole layout: twice, once to
// check the record and once to bind the target.
void BM_SetAnchorElement(benchmark::State& state) {
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    StandaloneHost host;
    const int n = static_cast<int>(state.range(0));
    for (int i = 0; i < n - 1; ++i) host.AddText("Label " + std::to_string(i), {0, 0, 1, 1});
    auto target = host.AddText("Target", {2, 2, 3, 3});
    auto element = host.AddText("Anchored", {0, 0, 1, 1});
    ComPtr<_CRVAnchorManager> m = MakeCom<_CRVAnchorManager, CRVAnchorManager>();
    ComPtr<PropertyBag> r = m->MakeAnchorProperties();
    r->SetProperty(key::AnchorElement, true);
    r->SetProperty(key::AnchorType, "NamedElement");
    r->SetProperty(key::ElementName, "Target");
    m->AddAnchorProperties(element, r);
    for (auto _ : state) m->SetAnchorElement(element);
    state.SetComplexityN(n);
    if (!sink.reports.empty()) state.SkipWithError("the engine reported an error");
}
BENCHMARK(BM_SetAnchorElement)->Arg(10)->Arg(100)->Arg(1000)->Arg(10000)->Complexity(benchmark::oN);

// Collects the per-iteration times so the ratios can be printed after the table.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    // Colours only on a terminal, so that saved output stays plain text.
    RatioReporter() : ConsoleReporter(::isatty(1) ? OO_Defaults : OO_None) {}
    void ReportRuns(const std::vector<Run>& runs) override {
        // With repetitions only the means count; a single run counts as it is.
        for (const Run& r : runs) {
            if (r.run_type == Run::RT_Aggregate && r.aggregate_name != "mean") continue;
            times_[r.run_name.str()] = r.GetAdjustedRealTime();
        }
        ConsoleReporter::ReportRuns(runs);
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        auto ratio = [&](const char* a, const char* b, const char* what) {
            if (times_.count(a) && times_.count(b) && times_[b] > 0) {
                std::printf("%-58s %8.2f\n", what, times_[a] / times_[b]);
            }
        };
        ratio("BM_AnchorElement/100000", "BM_AnchorElement/100", "AnchorElement, 100,000-page over 100-page series:");
        ratio("BM_AnchorElement/100", "BM_HostMoveUpdateRedraw",
              "AnchorElement over the host's own move+update+redraw:");
        ratio("BM_PageListTest/1", "BM_PageListTest/0", "Page-list test, 1-32000 over 1-10:");
        ratio("BM_SetAnchorElement/10000", "BM_SetAnchorElement/1000", "SetAnchorElement, 10,000 over 1,000 elements:");
        ratio("BM_SetAnchorElement/1000", "BM_SetAnchorElement/100", "SetAnchorElement, 1,000 over 100 elements:");
    }

private:
    std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
