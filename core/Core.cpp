// The C interface of the portable core over the standalone host's objects: a mirror is a host
// rebuilt from the caller's description, and its book is the book every host runs. Every entry
// point catches whatever is thrown and turns it into a status and a line for crv_last_error().
#include "core/crvanchor_core.h"

#include "anchor/CRVAnchorManager.h"
#include "book/BookDriver.h"
#include "book/Order.h"
#include "book/RecordEdit.h"
#include "errors/ErrorHandling.h"
#include "host/HostClasses.h"
#include "standalone/host/HostSurface.h"
#include "standalone/host/Snapshot.h"
#include "support/Edge.h"
#include "support/MessageText.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace crv::core {
namespace {

using json = nlohmann::ordered_json;
using objects::Rect;
using standalone::StandaloneHost;

constexpr const char* kSource = "CRVAnchor";

thread_local std::string t_last_error;

// A refusal of the caller's input: CRV_REFUSED.
struct Refused : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The reports the engine shows while the mirror works, kept as values for the caller.
class ReportCollector final : public ErrorSink {
public:
    void ShowMessage(const std::string& title, const std::string& text) override {
        all_.push_back({title, text});
    }
    void Beep() override {}
    int Count() const { return static_cast<int>(all_.size()); }
    // The reports since `from`, as the interface gives them.
    json Since(size_t from) const {
        json out = json::array();
        for (size_t i = from; i < all_.size(); ++i) {
            json r = json::object();
            r["number"] = NumberOf(all_[i].text);
            r["title"] = all_[i].title;
            r["text"] = all_[i].text;
            out.push_back(std::move(r));
        }
        return out;
    }

private:
    // The number the report's "Error Number" block shows; 0 when it has none.
    static int64_t NumberOf(const std::string& text) {
        static const std::string kLabel = "Error Number \r\n\t";
        const size_t at = text.find(kLabel);
        return at == std::string::npos ? 0 : std::strtoll(text.c_str() + at + kLabel.size(), nullptr, 10);
    }
    std::vector<RecordingErrorSink::Report> all_;
};

// The engine itself, made directly: the core runs in process and never asks a registry.
ComPtr<_CRVAnchorManager> NewManager() { return MakeCom<_CRVAnchorManager, CRVAnchorManager>(); }

std::vector<double> RectArray(const Rect& r) { return {r.xmin, r.ymin, r.xmax, r.ymax}; }

char* Give(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out == nullptr) throw std::bad_alloc();
    std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// A value tagged with its kind, as the description holds it (a double that is not finite as
// its name), so that a host stores back what it described.
json Tagged(const Variant& v) {
    switch (v.Type()) {
        case VariantType::Empty: return json{{"kind", "empty"}};
        case VariantType::Null: return json{{"kind", "null"}};
        case VariantType::Boolean: return json{{"kind", "boolean"}, {"value", v.AsBoolean()}};
        case VariantType::Integer: return json{{"kind", "int16"}, {"value", v.AsInteger()}};
        case VariantType::Long: return json{{"kind", "int32"}, {"value", v.AsLong()}};
        case VariantType::Double: {
            const double d = v.AsDouble();
            if (std::isfinite(d)) return json{{"kind", "double"}, {"value", d}};
            return json{{"kind", "double"}, {"value", std::isnan(d) ? "NaN" : d > 0 ? "Infinity" : "-Infinity"}};
        }
        case VariantType::String: return json{{"kind", "string"}, {"value", v.AsString()}};
        case VariantType::Object: break;
    }
    json entries = json::array();
    if (const auto bag = v.ObjectAs<objects::BagContents>()) {
        for (const auto& [key, value] : bag->Entries()) {
            json entry = Tagged(value);
            entry["key"] = key;
            entries.push_back(std::move(entry));
        }
    }
    return json{{"kind", "bag"}, {"entries", std::move(entries)}};
}

// One open mirror at a time: the host's classes are the process's.
bool g_open = false;

}  // namespace
}  // namespace crv::core

struct crv_mirror {
    crv::core::ReportCollector reports;
    crv::ScopedErrorSink sink{reports};
    std::unique_ptr<crv::standalone::StandaloneHost> host;
    std::unique_ptr<crv::standalone::HostSurface> surface;
    std::unique_ptr<crv::book::BookDriver> driver;
    // Each element's rectangle as the caller last knows it, by identity, in layout order.
    std::vector<std::pair<crv::ComPtr<crv::LayoutElement>, crv::objects::Rect>> known;
    bool reporting = false;

    void Remember() {
        known.clear();
        crv::standalone::WalkElements(host->State().elements,
                                      [&](const crv::ComPtr<crv::LayoutElement>& e, const std::string&) {
                                          known.emplace_back(e, crv::standalone::StandaloneHost::ExtentOf(e));
                                      });
    }
};

namespace crv::core {
namespace {

// Runs an entry point's body: its status, with the message kept for crv_last_error().
template <class Body>
crv_status Guarded(Body&& body) noexcept {
    t_last_error.clear();
    std::string message;
    crv_status status = CRV_FAILED;
    try {
        body();
        return CRV_OK;
    } catch (const Refused& e) {
        status = CRV_REFUSED;
        message = e.what();
    } catch (...) {
        try {
            message = support::CurrentFailure();
        } catch (...) {
            message = "out of memory";
        }
    }
    try {
        t_last_error = support::OneLine(message);
    } catch (...) {
        // The status still says it.
    }
    return status;
}

void Require(bool ok, const char* what) {
    if (!ok) throw Refused(what);
}

}  // namespace
}  // namespace crv::core

using namespace crv;
using namespace crv::core;

extern "C" {

int32_t crv_core_version(void) { return CRV_CORE_VERSION; }

const char* crv_last_error(void) { return t_last_error.c_str(); }

void crv_free(char* text) { std::free(text); }

crv_status crv_mirror_open(const char* description, const char* name, crv_mirror** mirror) {
    if (mirror != nullptr) *mirror = nullptr;
    return Guarded([&] {
        Require(description != nullptr && name != nullptr && mirror != nullptr,
                "crv_mirror_open: the description, the name and the mirror must be given");
        if (g_open) throw Refused("crv_mirror_open: a mirror is open already; close it first");
        auto m = std::make_unique<crv_mirror>();
        std::string units;
        try {
            m->host = standalone::HostFromSnapshotText(description, name, kSource, &units);
        } catch (const ComError& e) {
            throw Refused(e.Description());
        }
        m->surface = std::make_unique<standalone::HostSurface>(*m->host, units);
        m->surface->SetDocumentName(name);
        m->driver = std::make_unique<book::BookDriver>(*m->surface, NewManager,
                                                       [r = &m->reports] { return r->Count(); });
        m->Remember();
        g_open = true;
        *mirror = m.release();
    });
}

void crv_mirror_close(crv_mirror* mirror) {
    if (mirror == nullptr) return;
    delete mirror;
    g_open = false;
}

crv_status crv_mirror_pages(const crv_mirror* mirror, int32_t* first, int32_t* last) {
    return Guarded([&] {
        Require(mirror != nullptr && first != nullptr && last != nullptr,
                "crv_mirror_pages: the mirror and both page numbers must be given");
        *first = mirror->surface->Range().first;
        *last = mirror->surface->Range().last;
    });
}

crv_status crv_mirror_selection(const crv_mirror* mirror, char** selection_json) {
    if (selection_json != nullptr) *selection_json = nullptr;
    return Guarded([&] {
        Require(mirror != nullptr && selection_json != nullptr,
                "crv_mirror_selection: the mirror and the result must be given");
        const book::AnchorSelection& selection = mirror->driver->Selection();
        json out = json::object();
        out["anchor_order"] = mirror->driver->AnchorOrder();
        json left = json::array();
        for (const auto& l : selection.LeftOutElements()) left.push_back(json{{"element", l.name}, {"reason", l.reason}});
        out["left_out"] = std::move(left);
        out["notes"] = selection.RecordNotes();
        out["error_reports"] = mirror->reports.Since(0);
        *selection_json = Give(Dump(out));
    });
}

crv_status crv_mirror_set_rect(crv_mirror* mirror, const char* element, double xmin, double ymin, double xmax,
                               double ymax) {
    return Guarded([&] {
        Require(mirror != nullptr && element != nullptr, "crv_mirror_set_rect: the mirror and the element must be given");
        for (const double v : {xmin, ymin, xmax, ymax}) {
            Require(std::isfinite(v), "crv_mirror_set_rect: every coordinate must be a finite number");
        }
        Require(xmin <= xmax && ymin <= ymax, "crv_mirror_set_rect: expected xmin <= xmax and ymin <= ymax");
        for (auto& [e, rect] : mirror->known) {
            if (e->Name() != element) continue;
            standalone::ElementImpl& impl = StandaloneHost::ElementOf(e);
            if (impl.IsGroup()) {
                // A group's rectangle is its members': it moves them by its lower left corner.
                const Rect now = StandaloneHost::ExtentOf(e);
                impl.Move(xmin - now.xmin, ymin - now.ymin);
            } else {
                impl.SetRect({xmin, ymin, xmax, ymax});
            }
            mirror->Remember();
            return;
        }
        throw Refused(std::string("crv_mirror_set_rect: no element named ") + support::QuotedValue(element));
    });
}

crv_status crv_mirror_place_page(crv_mirror* mirror, int32_t page, int32_t check_overlap, char** result_json) {
    if (result_json != nullptr) *result_json = nullptr;
    return Guarded([&] {
        Require(mirror != nullptr && result_json != nullptr,
                "crv_mirror_place_page: the mirror and the result must be given");
        const standalone::BookRange& range = mirror->surface->Range();
        if (page < range.first || page > range.last) {
            throw Refused("crv_mirror_place_page: page " + std::to_string(page) + " is not in the book (pages " +
                          std::to_string(range.first) + " to " + std::to_string(range.last) + ")");
        }
        const size_t reportsBefore = static_cast<size_t>(mirror->reports.Count());
        mirror->driver->CheckOverlap(check_overlap != 0);
        const std::optional<book::PageDone> done = mirror->driver->DoPage(page);
        if (!done) throw std::runtime_error("the page could not be put in force");
        json moves = json::array();
        for (auto& [e, rect] : mirror->known) {
            const Rect now = StandaloneHost::ExtentOf(e);
            if (now.xmin == rect.xmin && now.ymin == rect.ymin && now.xmax == rect.xmax && now.ymax == rect.ymax) continue;
            rect = now;
            moves.push_back(json{{"element", e->Name()}, {"rect", RectArray(now)}});
        }
        json out = json::object();
        out["page"] = page;
        out["moves"] = std::move(moves);
        out["record"] = json::parse(book::PageRecordText(page, done->placements, done->findings));
        out["error_reports"] = mirror->reports.Since(reportsBefore);
        *result_json = Give(Dump(out));
    });
}

crv_status crv_mirror_edit_record(crv_mirror* mirror, const char* element, const char* const* changes,
                                  int32_t count, char** result_json) {
    if (result_json != nullptr) *result_json = nullptr;
    return Guarded([&] {
        Require(mirror != nullptr && element != nullptr && result_json != nullptr && count >= 0 &&
                    (changes != nullptr || count == 0),
                "crv_mirror_edit_record: the mirror, the element, the changes and the result must be given");
        Require(!mirror->reporting, "crv_mirror_edit_record: a report is being written; finish it first");
        std::vector<std::string> texts;
        for (int32_t i = 0; i < count; ++i) {
            Require(changes[i] != nullptr, "crv_mirror_edit_record: a change is missing");
            texts.emplace_back(changes[i]);
        }
        ComPtr<LayoutElement> target;
        for (const auto& [e, rect] : mirror->known) {
            if (!target && e->Name() == element) target = e;
        }
        if (!target) throw Refused(std::string("no element named ") + support::QuotedValue(element));
        const std::string& name = mirror->surface->Head().document;
        try {
            const book::RecordChanges parsed = book::ParseRecordChanges(texts);
            const book::ElementNames targets(RunningApplication()->Document()->PageLayout());
            book::CheckTargets(parsed, [&](const std::string& n) { return static_cast<bool>(targets.Find(n)); }, name);
            if (const auto& frame = mirror->surface->Range().series_frame) {
                std::vector<std::string> fields;
                for (const objects::SeriesField& f : StandaloneHost::ElementOf(frame).series->fields) fields.push_back(f.name);
                book::CheckFieldNames(parsed, fields, name);
            }
            const size_t reportsBefore = static_cast<size_t>(mirror->reports.Count());
            const ComPtr<_CRVAnchorManager> manager = NewManager();
            const book::RecordEditOutcome outcome = book::ApplyRecordChanges(*manager, target, parsed);
            json out = json::object();
            out["outcome"] = outcome == book::RecordEditOutcome::Created   ? "created"
                             : outcome == book::RecordEditOutcome::Changed ? "changed"
                                                                           : "reported";
            std::string message;
            if (outcome != book::RecordEditOutcome::Reported) {
                message = book::RecordEditMessage(outcome, element, parsed, "");
                message.pop_back();  // its line break
            }
            out["message"] = message;
            out["cycle"] = book::RecordCycleWarning(target);
            out["custom"] = Tagged(target->CustomProperty());
            out["error_reports"] = mirror->reports.Since(reportsBefore);
            // The anchored elements and their order follow the records: chosen again.
            mirror->driver = std::make_unique<book::BookDriver>(*mirror->surface, NewManager,
                                                                [r = &mirror->reports] { return r->Count(); });
            *result_json = Give(Dump(out));
        } catch (const book::RecordEditError& e) {
            throw Refused(e.what());
        }
    });
}

crv_status crv_mirror_start_report(crv_mirror* mirror, const char* path) {
    return Guarded([&] {
        Require(mirror != nullptr && path != nullptr, "crv_mirror_start_report: the mirror and the path must be given");
        mirror->driver->StartReport(path);
        mirror->reporting = true;
    });
}

crv_status crv_mirror_finish_report(crv_mirror* mirror) {
    return Guarded([&] {
        Require(mirror != nullptr, "crv_mirror_finish_report: the mirror must be given");
        Require(mirror->reporting, "crv_mirror_finish_report: no report was started");
        mirror->driver->Finish();
        mirror->reporting = false;
    });
}

}  // extern "C"
