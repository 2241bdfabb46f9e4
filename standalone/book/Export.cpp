#include "standalone/book/Export.h"

#include "anchor/AnchorRecord.h"
#include "standalone/book/Render.h"
#include "standalone/support/AtomicFile.h"
#include "standalone/support/MessageText.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cmath>
#include <memory>

namespace crv::standalone {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

// Beyond this many page units either way no placement is meant: it comes from a no-data value
// or a broken record, and a document saved with it would keep it.
constexpr double kPlacementLimit = 1e6;

void CheckSavable(const fs::path& save, const Document& doc) {
    WalkElements(doc.Host().State().elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        const Rect r = StandaloneHost::ExtentOf(e);
        for (const double v : {r.xmin, r.ymin, r.xmax, r.ymax}) {
            if (std::isfinite(v) && std::fabs(v) <= kPlacementLimit) continue;
            throw ExportError("--save " + QuotedValue(save.string()) + ": " +
                              QuotedValue(StandaloneHost::Impl(e).name()) + " would be stored at " + RectText(r) +
                              ", beyond any page (a distance field may hold a no-data value); nothing was written");
        }
    });
}

// A path or name that is not UTF-8 is written with replacement characters: JSON holds text only.
std::string Dump(const json& j) { return j.dump(2, ' ', false, json::error_handler_t::replace); }

json PlacementJson(const Placement& p) {
    json j = json::object();
    j["name"] = p.name;
    j["group"] = p.group;
    j["type"] = p.type;
    j["anchored"] = p.anchored;
    const bool labelled = p.priority && *p.priority >= 0 && static_cast<size_t>(*p.priority) < kPriorityLabels.size();
    j["priority"] = !p.priority ? json(nullptr)
                    : labelled  ? json(kPriorityLabels[static_cast<size_t>(*p.priority)])
                                : json("code " + std::to_string(*p.priority));
    j["rect"] = json::array({p.rect.xmin, p.rect.ymin, p.rect.xmax, p.rect.ymax});
    return j;
}

// The report written as the pages come, in the layout of the whole document dumped with an
// indent of two: the fields before "pages", each page an entry of "pages", the count of error
// reports last. Written in large pieces to a file that replaces the destination at the end.
class ReportStream {
public:
    ReportStream(const fs::path& path, const json& head) : file_(path, "Book") {
        std::string text = Dump(head);
        text.resize(text.size() - 2);  // the closing "\n}"
        Append(text);
        Append(",\n  \"pages\": [");
    }

    void AddPage(const json& page) {
        Append(pages_++ == 0 ? "\n    " : ",\n    ");
        // Two levels in: every line of the page moves four spaces right. Strings in the dump
        // hold no line break of their own (it is escaped).
        const std::string text = Dump(page);
        size_t at = 0;
        for (size_t nl = text.find('\n'); nl != std::string::npos; nl = text.find('\n', at)) {
            Append(std::string_view(text).substr(at, nl + 1 - at));
            Append("    ");
            at = nl + 1;
        }
        Append(std::string_view(text).substr(at));
    }

    void Finish(int errorReports) {
        Append(pages_ == 0 ? "]" : "\n  ]");
        Append(",\n  \"error_reports\": " + std::to_string(errorReports) + "\n}\n");
        Flush();
        file_.Commit();
    }

private:
    static constexpr size_t kPiece = size_t{1} << 16;

    void Append(std::string_view text) {
        buffer_ += text;
        if (buffer_.size() >= kPiece) Flush();
    }
    void Flush() {
        if (buffer_.empty()) return;
        file_.Write(buffer_);
        buffer_.clear();
    }

    AtomicFile file_;
    std::string buffer_;
    size_t pages_ = 0;
};

json ReportHead(const Document& doc, const MapBook& book, const std::string& documentName) {
    const HostState& state = doc.Host().State();
    json head = json::object();
    head["document"] = documentName;
    head["units"] = doc.Units();
    head["page_size"] = json::array({state.page_width, state.page_height});
    if (book.SeriesFrame()) {
        json s = json::object();
        s["frame"] = StandaloneHost::Impl(book.SeriesFrame()).name();
        s["first_page"] = book.FirstPage();
        s["last_page"] = book.LastPage();
        head["series"] = s;
    } else {
        head["series"] = nullptr;
    }
    json order = json::array();
    for (const auto& e : book.AnchorOrder()) order.push_back(StandaloneHost::Impl(e).name());
    head["anchor_order"] = order;
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
    book_.ShowPage(page_);
    ++done_;
    return true;
}

void BookPages::End() { running_ = false; }

void BookExporter::Export(BookPages& pages, const ExportOptions& options, const Progress& progress,
                          const std::function<int()>& errorReports) {
    times_ = {};
    MapBook& book = pages.Book();
    std::unique_ptr<BookRenderer> renderer;
    if (options.pdf || options.png) {
        renderer = std::make_unique<BookRenderer>(document_, book);
        if (options.pdf) renderer->StartPdf(*options.pdf);
        if (options.png) renderer->SetPngFolder(*options.png, options.dpi);
    }
    std::unique_ptr<ReportStream> report;
    if (options.report)
        report = std::make_unique<ReportStream>(*options.report, ReportHead(document_, book, options.document_name));

    for (bool more = pages.Begin(); more;) {
        {
            Stopwatch anchoring(times_.anchoring);
            more = pages.Next();
        }
        if (!more) break;
        const int32_t page = pages.CurrentPage();
        if (report) {
            Stopwatch reporting(times_.reporting);
            json entry = json::object();
            entry["page"] = page;
            json elements = json::array();
            for (const auto& p : book.Placements()) elements.push_back(PlacementJson(p));
            entry["elements"] = std::move(elements);
            report->AddPage(entry);
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
