// The C interface of the portable core over the standalone host's objects: a mirror is a host
// rebuilt from the caller's description, and its book is the book every host runs. Every entry
// point catches whatever is thrown and turns it into a status and a line for crv_last_error().
#include "core/Mirror.h"

#include "book/Order.h"
#include "book/Outline.h"
#include "commands/AnchorCommand.h"
#include "commands/PagesOption.h"
#include "commands/RecordEdit.h"
#include "commands/Show.h"
#include "standalone/host/Snapshot.h"

#include <algorithm>
#include <optional>

namespace crv::core {

std::string& LastError() {
    thread_local std::string message;
    return message;
}

}  // namespace crv::core

using namespace crv;
using namespace crv::core;

extern "C" {

int32_t crv_core_version(void) { return CRV_CORE_VERSION; }

const char* crv_last_error(void) { return LastError().c_str(); }

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
        if (const std::string why = m->surface->PrintedPagesRefusal(); !why.empty())
            throw Refused("The layout snapshot " + std::string(name) + " does not read: /printed_pages_per_page: " + why);
        m->surface->SetDocumentName(name);
        m->ChooseAgain();
        m->Remember();
        g_open = true;
        *mirror = m.release();
    });
}

void crv_mirror_close(crv_mirror* mirror) {
    if (mirror == nullptr) return;
    crv_form_close(mirror->form);
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

crv_status crv_mirror_parse_pages(const crv_mirror* mirror, const char* text, char** pages_json) {
    if (pages_json != nullptr) *pages_json = nullptr;
    return Guarded([&] {
        Require(mirror != nullptr && text != nullptr && pages_json != nullptr,
                "crv_mirror_parse_pages: the mirror, the text and the result must be given");
        const auto range = mirror->surface->Range();
        json pages = json::array();
        if (*text == '\0') {
            for (int32_t p = range.first; p <= range.last; ++p) pages.push_back(p);
        } else {
            std::optional<PageList> list;
            try {
                list = commands::ParseBookPages(text, range.first, range.last);
            } catch (const std::invalid_argument& e) {
                throw Refused(e.what());
            }
            for (const auto& r : list->Ranges())
                for (int32_t p = r.first; p <= r.last; ++p) pages.push_back(p);
        }
        *pages_json = Give(json{{"pages", std::move(pages)}}.dump());
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

crv_status crv_mirror_show(const crv_mirror* mirror, char** show_json) {
    if (show_json != nullptr) *show_json = nullptr;
    return Guarded([&] {
        Require(mirror != nullptr && show_json != nullptr, "crv_mirror_show: the mirror and the result must be given");
        const ComPtr<ElementContainer> layout = RunningApplication()->Document()->PageLayout();
        json elements = json::array();
        for (const commands::ShownElement& e : commands::ShownElements()) {
            elements.push_back(json{{"element", e.name}, {"depth", e.depth}, {"summary", e.summary}});
        }
        json out = json::object();
        out["elements"] = std::move(elements);
        out["cycles"] = book::CycleLines(layout);
        *show_json = Give(Dump(out));
    });
}

crv_status crv_mirror_outlines(const crv_mirror* mirror, int32_t page, double pixels_per_unit, double page_height,
                               char** outlines_json) {
    if (outlines_json != nullptr) *outlines_json = nullptr;
    return Guarded([&] {
        Require(mirror != nullptr && outlines_json != nullptr,
                "crv_mirror_outlines: the mirror and the result must be given");
        Require(std::isfinite(pixels_per_unit) && pixels_per_unit > 0 && std::isfinite(page_height),
                "crv_mirror_outlines: expected a positive scale and a finite page height");
        const book::AnchorSelection& selection = mirror->driver->Selection();
        const std::vector<book::Outline> outlines = mirror->driver->Outlines(page);
        const auto point = [](const book::OutlineShapes::Pixel& p) { return json::array({p.x, p.y}); };
        json out = json::array();
        for (size_t i = 0; i < outlines.size() && i < selection.Elements().size(); ++i) {
            const book::OutlineShapes s = book::ShapesOf(outlines[i], pixels_per_unit, page_height);
            const ComPtr<LayoutElement>& e = selection.Elements()[i].element;
            json o = json::object();
            o["element"] = e->Name();
            o["layout_page"] = StandaloneHost::LayoutPageOf(e);
            o["box"] = {s.box.x, s.box.y, s.box.width, s.box.height};
            o["pen"] = s.pen;
            o["line"] = s.line ? json::array({point(s.line->first), point(s.line->second)}) : json();
            o["dashed"] = s.dashed;
            o["head"] = s.head ? json::array({point((*s.head)[0]), point((*s.head)[1]), point((*s.head)[2])}) : json();
            o["dot"] = s.dot ? json::array({point(s.dot->first), s.dot->second}) : json();
            o["alternate"] = outlines[i].alternate;
            out.push_back(std::move(o));
        }
        *outlines_json = Give(Dump(json{{"rgb", book::kOutlineRgb}, {"outlines", std::move(out)}}));
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
        const ComPtr<LayoutElement> e = mirror->Named("crv_mirror_set_rect", element);
        StandaloneHost::PlaceAt(e, {xmin, ymin, xmax, ymax});
        mirror->Remember();
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
        if (const auto& frame = range.series_frame) {
            const auto series = StandaloneHost::SeriesOf(frame);
            const auto given = std::dynamic_pointer_cast<standalone::GivenRows>(series->rows);
            if (given && !given->Given(static_cast<size_t>(page - series->first_page_number))) {
                throw Refused("crv_mirror_place_page: the feature of page " + std::to_string(page) +
                              " was not given; give it with crv_mirror_set_feature first");
            }
        }
        const size_t reportsBefore = static_cast<size_t>(mirror->reports.Count());
        mirror->driver->CheckOverlap(check_overlap != 0);
        const std::optional<book::PageDone> done = mirror->driver->DoPage(page);
        if (!done) throw std::runtime_error("the page could not be put in force");
        json out = json::object();
        out["page"] = page;
        out["printed_page"] = mirror->surface->PrintedPage(page, 0);
        out["moves"] = mirror->Moves();
        out["record"] = json::parse(book::PageRecordText(page, done->placements, done->findings));
        out["error_reports"] = mirror->reports.Since(reportsBefore);
        *result_json = Give(Dump(out));
    });
}

crv_status crv_mirror_set_feature(crv_mirror* mirror, const char* frame, int32_t page, const char* values_json) {
    return Guarded([&] {
        Require(mirror != nullptr && values_json != nullptr,
                "crv_mirror_set_feature: the mirror and the values must be given");
        const ComPtr<LayoutElement> target = frame != nullptr ? mirror->Named("crv_mirror_set_feature", frame)
                                                              : mirror->surface->Range().series_frame;
        if (!target) throw Refused("crv_mirror_set_feature: the layout has no map series");
        const auto series = StandaloneHost::SeriesOf(target);
        if (!series) {
            throw Refused("crv_mirror_set_feature: " + support::QuotedValue(target->Name()) + " has no map series");
        }
        const int64_t index = int64_t{page} - series->first_page_number;
        if (index < 0 || index >= static_cast<int64_t>(series->PageCount())) {
            throw Refused("crv_mirror_set_feature: page " + std::to_string(page) + " is not in the map series (pages " +
                          std::to_string(series->first_page_number) + " to " +
                          std::to_string(series->first_page_number + static_cast<int64_t>(series->PageCount()) - 1) + ")");
        }
        std::vector<Variant> row;
        try {
            row = standalone::TaggedRowFromText(values_json, "crv_mirror_set_feature: the values", kSource);
        } catch (const ComError& e) {
            throw Refused(e.Description());
        }
        if (row.size() != series->fields.size()) {
            throw Refused("crv_mirror_set_feature: expected " + std::to_string(series->fields.size()) +
                          " values, one for each field of the series, found " + std::to_string(row.size()));
        }
        if (const auto given = std::dynamic_pointer_cast<standalone::GivenRows>(series->rows)) {
            given->Give(static_cast<size_t>(index), std::move(row));
        } else if (!series->rows) {
            series->features[static_cast<size_t>(index)] = std::move(row);
        } else {
            throw Refused("crv_mirror_set_feature: this series reads its features itself");
        }
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
        const ComPtr<LayoutElement> target = crv_mirror::Named("crv_mirror_edit_record", element);
        const std::string& name = mirror->surface->Head().document;
        try {
            const commands::RecordChanges parsed = commands::ParseRecordChanges(texts);
            commands::CheckAnchorEdit(parsed, name, [&]() -> std::optional<commands::DistanceFields> {
                const ComPtr<LayoutElement>& frame = mirror->surface->Range().series_frame;
                if (!frame) return std::nullopt;
                const std::string called = StandaloneHost::SeriesOf(frame)->called;
                return commands::DistanceFields{commands::SeriesFieldNames(frame), called.empty() ? name : called};
            });
            const size_t reportsBefore = static_cast<size_t>(mirror->reports.Count());
            const ComPtr<_CRVAnchorManager> manager = NewManager();
            const commands::AnchorEdit edit = commands::ApplyAnchorEdit(*manager, target, parsed);
            json out = json::object();
            out["outcome"] = edit.outcome == commands::RecordEditOutcome::Created   ? "created"
                             : edit.outcome == commands::RecordEditOutcome::Changed ? "changed"
                                                                                    : "reported";
            std::string message;
            if (edit.outcome != commands::RecordEditOutcome::Reported) {
                message = commands::RecordEditMessage(edit.outcome, element, parsed, "");
                message.pop_back();  // its line break
            }
            out["message"] = message;
            out["cycle"] = edit.cycle;
            out["custom"] = Tagged(target->CustomProperty());
            out["error_reports"] = mirror->reports.Since(reportsBefore);
            mirror->ChooseAgain();
            *result_json = Give(Dump(out));
        } catch (const commands::RecordEditError& e) {
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
