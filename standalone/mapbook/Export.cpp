#include "standalone/mapbook/Export.h"

#include "anchor/AnchorRecord.h"
#include "standalone/mapbook/Render.h"
#include "support/AtomicFile.h"
#include "support/MessageText.h"

#include <chrono>
#include <cmath>
#include <memory>

namespace crv::standalone {

namespace {

namespace fs = std::filesystem;

// Beyond this many page units either way no placement is meant: it comes from a no-data value
// or a broken record, and a document saved with it would keep it.
constexpr double kPlacementLimit = 1e6;

void CheckSavable(const fs::path& save, const Document& doc) {
    WalkElements(doc.Host().State().elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        const Rect r = StandaloneHost::ExtentOf(e);
        for (const double v : {r.xmin, r.ymin, r.xmax, r.ymax}) {
            if (std::isfinite(v) && std::fabs(v) <= kPlacementLimit) continue;
            throw ExportError("--save " + QuotedValue(save.string()) + ": " +
                              QuotedValue(StandaloneHost::ElementOf(e).name()) + " would be stored at " + RectText(r) +
                              ", beyond any page (a distance field may hold a no-data value); nothing was written");
        }
    });
}

ReportHead HeadOf(const Document& doc, const MapBook& book, const std::string& documentName) {
    const HostState& state = doc.Host().State();
    ReportHead head;
    head.document = documentName;
    head.units = doc.Units();
    head.page_width = state.page_width;
    head.page_height = state.page_height;
    if (book.SeriesFrame()) {
        head.series =
            ReportHead::Series{StandaloneHost::ElementOf(book.SeriesFrame()).name(), book.FirstPage(), book.LastPage()};
    }
    for (const auto& e : book.AnchorOrder()) head.anchor_order.push_back(StandaloneHost::ElementOf(e).name());
    return head;
}

class Stopwatch {
public:
    explicit Stopwatch(double& into) : into_(into), started_(Clock::now()) {}
    ~Stopwatch() { into_ += std::chrono::duration<double>(Clock::now() - started_).count(); }
    Stopwatch(const Stopwatch&) = delete;
    Stopwatch& operator=(const Stopwatch&) = delete;

private:
    using Clock = std::chrono::steady_clock;
    double& into_;
    Clock::time_point started_;
};

}  // namespace

BookPages::BookPages(MapBook& book, PageList pages) : book_(book), pages_(std::move(pages)), count_(pages_.Count()) {}

bool BookPages::Begin() {
    running_ = true;
    range_ = 0;
    done_ = 0;
    return count_ > 0;
}

bool BookPages::Next() {
    if (!running_) return false;
    const auto& ranges = pages_.Ranges();
    if (done_ > 0 && page_ < ranges[range_].last) {
        ++page_;
    } else {
        if (done_ > 0) ++range_;
        if (range_ >= ranges.size()) {
            running_ = false;
            return false;
        }
        page_ = ranges[range_].first;
    }
    book_.PlacePage(page_);
    ++done_;
    return true;
}

void BookPages::End() { running_ = false; }

void BookExporter::Export(BookPages& pages, const ExportOptions& options, const Progress& progress,
                          const std::function<int()>& errorReports) {
    times_ = {};
    checks_ = {};
    MapBook& book = pages.Book();
    const HostState& state = document_.Host().State();
    std::unique_ptr<BookRenderer> renderer;
    if (options.pdf || options.png) {
        renderer = std::make_unique<BookRenderer>(document_, book);
        if (options.pdf) renderer->StartPdf(*options.pdf);
        if (options.png) renderer->SetPngFolder(*options.png, options.dpi, options.outline);
    }
    std::unique_ptr<BookReport> report;
    if (options.report)
        report = std::make_unique<BookReport>(*options.report, HeadOf(document_, book, options.document_name));

    for (bool more = pages.Begin(); more;) {
        {
            Stopwatch anchoring(times_.anchoring);
            more = pages.Next();
        }
        if (!more) break;
        const int32_t page = pages.CurrentPage();
        {
            Stopwatch reporting(times_.reporting);
            const std::vector<Placement> placements = book.Placements();
            const std::vector<CheckFinding> found =
                CheckPage(placements, state.page_width, state.page_height, options.check_overlap);
            checks_.AddPage(page, found);
            if (report) report->AddPage(page, placements, found);
        }
        if (renderer) {
            Stopwatch rendering(times_.rendering);
            renderer->AddPage(page);
        }
        if (progress) progress(pages.Done(), page);
    }
    pages.End();

    if (options.save) CheckSavable(*options.save, document_);
    if (renderer) {
        Stopwatch rendering(times_.rendering);
        renderer->Finish();
    }
    if (report) report->Finish(errorReports ? errorReports() : 0);
    if (options.save) document_.Save(*options.save);
}

}  // namespace crv::standalone
