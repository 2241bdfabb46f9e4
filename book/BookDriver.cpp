#include "book/BookDriver.h"

#include <chrono>

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
    if (surface_.PutPageInForce(page)) selection_->PlacePage(page);
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
    return cursor_.Begin();
}

bool BookDriver::Next() {
    if (!cursor_.Next()) return false;
    const int32_t page = cursor_.Page();
    if (!surface_.PutPageInForce(page)) {
        cursor_.End();
        return false;
    }
    {
        Stopwatch anchoring(times_.anchoring);
        selection_->PlacePage(page);
    }
    {
        Stopwatch reporting(times_.reporting);
        const std::vector<Placement> placements = surface_.Measure(*selection_);
        const auto [width, height] = surface_.PageSize();
        std::vector<CheckFinding> found = CheckPage(placements, width, height, check_overlap_);
        found.insert(found.end(), standing_.begin(), standing_.end());
        checks_.AddPage(page, found);
        if (report_) report_->AddPage(page, placements, found);
    }
    {
        Stopwatch drawing(times_.drawing);
        surface_.DrawPage(page);
    }
    if (progress_) progress_(cursor_.Done(), page);
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
