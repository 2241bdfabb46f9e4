#include "book/BookDriver.h"

#include "support/MessageText.h"

#include <algorithm>
#include <chrono>
#include <ostream>

namespace crv::book {

namespace {

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

BookDriver::BookDriver(BookSurface& surface, const AnchorSelection::ManagerFactory& newManager,
                       std::function<int()> reportsShown, const AnchorSelection::HostRefusal& refusal)
    : surface_(surface),
      reports_shown_(std::move(reportsShown)),
      selection_(std::make_unique<AnchorSelection>(newManager, reports_shown_, refusal)) {}

BookDriver::~BookDriver() = default;

std::vector<std::string> BookDriver::AnchorOrder() const {
    std::vector<std::string> names;
    for (const auto& s : selection_->Elements()) names.push_back(s.element->Name());
    return names;
}

void BookDriver::PlacePage(int32_t page) {
    if (surface_.PutPageInForce(page)) PlaceElements(page);
}

AnchorSelection::BeforeEach BookDriver::ElementPages(int32_t page) const {
    if (!surface_.ElementPagesDiffer()) return {};
    return [this, page](const ComPtr<LayoutElement>& e) { surface_.PutElementPageInForce(e, page); };
}

// The page's own in force again after each element's, for what measures the page after (the
// checks, a form's distances).
void BookDriver::EndElementPages(int32_t page) const {
    if (surface_.ElementPagesDiffer()) surface_.PutElementPageInForce({}, page);
}

void BookDriver::PlaceElements(int32_t page) {
    selection_->PlacePage(page, ElementPages(page));
    EndElementPages(page);
}

std::vector<Outline> BookDriver::Outlines(int32_t page) const {
    std::vector<Outline> out = book::Outlines(*selection_, page, ElementPages(page));
    EndElementPages(page);
    return out;
}

void BookDriver::StartReport(const std::filesystem::path& path) {
    ReportHead head = surface_.Head();
    head.anchor_order = AnchorOrder();
    report_ = std::make_unique<BookReport>(path, head);
}

bool BookDriver::Begin(PageList pages) {
    times_ = {};
    checks_ = {};
    cursor_ = PageCursor(std::move(pages));
    pages_done_ = 0;
    return cursor_.Begin();
}

std::optional<PageDone> BookDriver::DoPage(int32_t page) {
    if (!surface_.PutPageInForce(page)) return std::nullopt;
    {
        Stopwatch anchoring(times_.anchoring);
        PlaceElements(page);
    }
    Stopwatch reporting(times_.reporting);
    PageDone done;
    done.placements = surface_.Measure(*selection_);
    const auto [width, height] = surface_.PageSize();
    done.findings = CheckPage(done.placements, width, height, check_overlap_);
    done.findings.insert(done.findings.end(), standing_.begin(), standing_.end());
    checks_.AddPage(page, done.findings);
    if (report_) report_->AddPage(page, done.placements, done.findings);
    return done;
}

bool BookDriver::Next() {
    if (!cursor_.Next()) return false;
    const int32_t page = cursor_.Page();
    if (!DoPage(page)) {
        cursor_.End();
        return false;
    }
    {
        Stopwatch drawing(times_.drawing);
        surface_.DrawPage(page);
    }
    ++pages_done_;
    if (progress_) progress_(pages_done_, page);
    return true;
}

void BookDriver::Run(PageList pages) {
    for (bool more = Begin(std::move(pages)); more && Next();) {}
    End();
}

void BookDriver::Finish() {
    if (report_) report_->Finish(reports_shown_ ? reports_shown_() : 0);
}

}  // namespace crv::book
