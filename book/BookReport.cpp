#include "book/BookReport.h"

#include "anchor/AnchorRecord.h"
#include "support/AtomicFile.h"

#include <nlohmann/json.hpp>

#include <iomanip>
#include <sstream>
#include <string_view>

namespace crv::book {

using namespace crv::support;

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

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

json HeadJson(const ReportHead& h) {
    json head = json::object();
    head["document"] = h.document;
    head["units"] = h.units;
    head["page_size"] = json::array({h.page_width, h.page_height});
    if (h.series) {
        json s = json::object();
        s["frame"] = h.series->frame;
        s["first_page"] = h.series->first_page;
        s["last_page"] = h.series->last_page;
        head["series"] = s;
    } else {
        head["series"] = nullptr;
    }
    json order = json::array();
    for (const auto& name : h.anchor_order) order.push_back(name);
    head["anchor_order"] = order;
    return head;
}

}  // namespace

std::string RectText(const Rect& r) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(3) << "(" << r.xmin << ", " << r.ymin << ")-(" << r.xmax << ", " << r.ymax
      << ")";
    return s.str();
}

// The fields before "pages", each page an entry of "pages", the count of error reports last;
// written in large pieces.
class BookReport::Stream {
public:
    Stream(const fs::path& path, const json& head) : file_(path, "Book") {
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

BookReport::BookReport(const fs::path& path, const ReportHead& head)
    : stream_(std::make_unique<Stream>(path, HeadJson(head))) {}

BookReport::~BookReport() = default;

namespace {

json PageJson(int32_t page, const std::vector<Placement>& placements, const std::vector<CheckFinding>& checks) {
    json entry = json::object();
    entry["page"] = page;
    json elements = json::array();
    for (const auto& p : placements) elements.push_back(PlacementJson(p));
    entry["elements"] = std::move(elements);
    if (!checks.empty()) {
        json found = json::array();
        for (const CheckFinding& f : checks) {
            json j = json::object();
            j["kind"] = f.kind == CheckFinding::Kind::OffPage   ? "off_page"
                        : f.kind == CheckFinding::Kind::Overlap ? "overlap"
                                                                : "data_defined";
            j["element"] = f.element;
            if (f.kind == CheckFinding::Kind::Overlap) j["other"] = f.other;
            found.push_back(std::move(j));
        }
        entry["checks"] = std::move(found);
    }
    return entry;
}

}  // namespace

std::string PageRecordText(int32_t page, const std::vector<Placement>& placements,
                           const std::vector<CheckFinding>& checks) {
    return PageJson(page, placements, checks).dump(-1, ' ', false, json::error_handler_t::replace);
}

void BookReport::AddPage(int32_t page, const std::vector<Placement>& placements,
                         const std::vector<CheckFinding>& checks) {
    stream_->AddPage(PageJson(page, placements, checks));
}

void BookReport::Finish(int errorReports) { stream_->Finish(errorReports); }

}  // namespace crv::book
