// crvanchor-book [--document NAME] [--units UNITS] OUT.json: the map book of the layout the
// registered host application holds, made through the platform's COM alone: the application and
// the component come from the system registry by their programmatic identifiers, and every call
// reaches them through the COM boundary's proxies. The anchored elements are selected, ordered
// and placed by the book's own AnchorSelection (book/Placement.h), as in every host; the pages
// are stepped as the book driver steps them (the map series' page put in force, the elements
// placed, every element measured as every host measures it: book/Measure.h), and the report has
// the form of the driver's (book/BookReport.cpp). What COM does not tell apart, a text from a picture, is reported as
// "element".
#include "book/Measure.h"
#include "book/Order.h"
#include "book/Placement.h"
#include "host/HostClasses.h"
#include "windows/boundary/Marshal.h"

#include <objbase.h>

#include <nlohmann/json.hpp>

#include <cstdio>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace crv::standalone {
namespace {

using json = nlohmann::ordered_json;

struct Series {
    ComPtr<MapSeriesFrame> companion;
    std::string frame;
    int32_t first = 1;
    int32_t count = 0;
};

// The map series of the first map frame that has one switched on, as the driver finds it.
std::optional<Series> FindSeries(const ComPtr<ElementContainer>& layout) {
    std::vector<ComPtr<MapFrame>> frames;
    book::WalkLayout(layout, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        if (auto frame = ComPtr<MapFrame>::Query(e)) frames.push_back(std::move(frame));
    });
    for (const ComPtr<MapFrame>& frame : frames) {
        const ComPtr<MapSeriesFrame> companion = NewMapSeriesFrame();
        if (!companion->HasSeries(frame) || !companion->IsSeriesEnabled(frame)) continue;
        companion->Bind(frame);
        return Series{companion, ComPtr<LayoutElement>::Query(frame)->Name(), CLng(companion->FirstPageNumber()),
                      CLng(companion->PageCount())};
    }
    return std::nullopt;
}

json PriorityLabel(std::optional<int16_t> p) {
    if (!p) return json();
    static const char* const labels[] = {"LOW", "MEDIUM", "HIGH"};
    if (*p >= 0 && *p <= 2) return labels[*p];
    return "code " + std::to_string(*p);
}

int Run(const std::string& document, const std::string& units, const std::string& out) {
    const ComPtr<HostApplication> app = CreateObjectByProgId<HostApplication>("CRVAnchorTestHost.Application");
    const ComPtr<HostDocument> doc = app->Document();
    const ComPtr<LayoutView> view = doc->ActiveView();
    double width = 0, height = 0;
    view->Page()->QuerySize(width, height);
    const ComPtr<Display> display = view->ScreenDisplay();

    const ComPtr<ElementContainer> layout = doc->PageLayout();
    book::AnchorSelection selection(
        [] { return CreateObjectByProgId<_CRVAnchorManager>("CRVAnchor.CRVAnchorManager"); });
    const std::optional<Series> series = FindSeries(layout);
    const int32_t first = series ? series->first : 1;
    const int32_t last = series ? series->first + series->count - 1 : 1;

    json report = json::object();
    report["document"] = document;
    report["units"] = units;
    report["page_size"] = json::array({width, height});
    report["series"] = series ? json{{"frame", series->frame}, {"first_page", first}, {"last_page", last}} : json();
    json order = json::array();
    for (const auto& s : selection.Elements()) order.push_back(s.element->Name());
    report["anchor_order"] = std::move(order);
    json pages = json::array();
    for (int32_t p = first; p <= last; ++p) {
        if (series) {
            const int32_t position = p - first + 1;
            series->companion->SetCurrentPage(series->companion->FeatureAt(position), position);
        }
        selection.PlacePage(p);
        json elements = json::array();
        for (const book::Placement& e : book::MeasureLayout(layout, display, selection)) {
            elements.push_back(json{{"name", e.name},
                                    {"group", e.group},
                                    {"type", e.type},
                                    {"anchored", e.anchored},
                                    {"priority", PriorityLabel(e.priority)},
                                    {"rect", json::array({e.rect.xmin, e.rect.ymin, e.rect.xmax, e.rect.ymax})}});
        }
        pages.push_back(json{{"page", p}, {"elements", std::move(elements)}});
    }
    report["pages"] = std::move(pages);
    // The component shows its reports to the user, not to its caller: none are counted here.
    report["error_reports"] = json();

    std::ofstream file(out, std::ios::binary);
    file << report.dump(2) << "\n";
    if (!file.flush()) throw std::runtime_error("cannot write " + out);
    std::printf("%s: %d pages, %d anchored elements\n", out.c_str(), static_cast<int>(last - first + 1),
                static_cast<int>(selection.Elements().size()));
    return 0;
}

}  // namespace
}  // namespace crv::standalone

int main(int argc, char** argv) {
    std::string document, units, out;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--document" || arg == "--units") && i + 1 < argc) {
            (arg == "--document" ? document : units) = argv[++i];
        } else if (out.empty() && arg.rfind("--", 0) != 0) {
            out = arg;
        } else {
            out.clear();
            break;
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "usage: crvanchor-book [--document NAME] [--units UNITS] OUT.json\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "crvanchor-book: COM cannot start\n");
        return 2;
    }
    int status = 2;
    try {
        status = crv::standalone::Run(document, units, out);
    } catch (const crv::ComError& e) {
        std::fprintf(stderr, "crvanchor-book: %s (%s)\n", e.Description().c_str(), e.Source().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crvanchor-book: %s\n", e.what());
    }
    CoUninitialize();
    return status;
}
