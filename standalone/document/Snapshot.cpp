// The host's snapshot: the document's elements as the host keeps them and each series read in
// full, values tagged as the document tags them.
//
//   {"format": "crvanchor-snapshot", "version": 1, "document": NAME, "units": UNITS,
//    "page": [WIDTH, HEIGHT],
//    "elements": [ELEMENT...],  ELEMENT: {"kind", "name", "rect", "border", "text", "custom",
//                                         "series"?, "members"?}
//    "series": {"name", "fields": [{"name", "type"}], "pages": [[VALUE...]...], "first_page",
//               "current_position", "enabled", "envelopes": [[XMIN, YMIN, XMAX, YMAX]...]}
//    "series_layouts": [{"name", "current_page": VALUE}],
//    "section_templates": [{"name", "starting_page": VALUE, "current_section",
//                           "sections": [{"name", "page": VALUE}]}],
//    "active_layout": {"name", "kind"}}
//
// An element's "kind" is "text", "picture", "map_frame", "group", "indexed_group" or
// "sequence_and_indexed_group"; its "rect" the host's rectangle: a map frame's outline, a
// group's union of its members.
#include "standalone/document/DocumentInternal.h"

namespace crv::standalone {

using namespace document_internal;

namespace {

json RectTree(const Rect& r) { return json::array({r.xmin, r.ymin, r.xmax, r.ymax}); }

json SeriesTree(const SeriesData& s, const Document::Contents& impl, const std::string& ptr) {
    json out = json::object();
    out["name"] = s.name;
    json fields = json::array();
    for (const SeriesField& f : s.fields) fields.push_back(json{{"name", f.name}, {"type", f.type}});
    out["fields"] = std::move(fields);
    json pages = json::array();
    for (size_t i = 0; i < s.PageCount(); ++i) {
        json row = json::array();
        for (const Variant& v : s.Row(i)) row.push_back(TaggedValue(v, json::object(), impl, Child(ptr, "pages"), 0));
        pages.push_back(std::move(row));
    }
    out["pages"] = std::move(pages);
    out["first_page"] = s.first_page_number;
    out["current_position"] = s.current_position;
    out["enabled"] = s.enabled;
    json envelopes = json::array();
    for (const Rect& r : s.envelopes) envelopes.push_back(RectTree(r));
    out["envelopes"] = std::move(envelopes);
    return out;
}

json ElementTree(const ComPtr<LayoutElement>& e, const Document::Contents& impl, const std::string& ptr) {
    const ElementImpl& el = StandaloneHost::ElementOf(e);
    json out = json::object();
    out["kind"] = ElementKindName(el.Kind());
    out["name"] = el.name();
    out["rect"] = RectTree(el.OutlineRect());
    out["border"] = el.FrameBorder();
    out["text"] = el.text;
    out["custom"] = TaggedValue(el.custom(), json::object(), impl, Child(ptr, "custom"), 0);
    if (el.series) out["series"] = SeriesTree(*el.series, impl, Child(ptr, "series"));
    if (el.IsGroup()) {
        json members = json::array();
        for (const auto& m : el.Members()) {
            members.push_back(ElementTree(m, impl, Child(Child(ptr, "members"), members.size())));
        }
        out["members"] = std::move(members);
    }
    return out;
}

}  // namespace

std::string Document::Snapshot() const {
    const HostState& s = host_.State();
    const Contents& impl = *contents_;
    try {
        json out = json::object();
        out["format"] = "crvanchor-snapshot";
        out["version"] = 1;
        out["document"] = impl.path.generic_string();
        out["units"] = impl.units;
        out["page"] = json::array({s.page_width, s.page_height});
        json elements = json::array();
        for (const auto& e : s.elements) elements.push_back(ElementTree(e, impl, Child("/elements", elements.size())));
        out["elements"] = std::move(elements);
        json layouts = json::array();
        for (const auto& [name, current] : s.series_layouts) {
            layouts.push_back(json{{"name", name},
                                   {"current_page", TaggedValue(current, json::object(), impl, "/series_layouts", 0)}});
        }
        out["series_layouts"] = std::move(layouts);
        json templates = json::array();
        for (const auto& [name, t] : s.section_templates) {
            json sections = json::array();
            for (const auto& [section, page] : t.section_pages) {
                sections.push_back(json{{"name", section},
                                        {"page", TaggedValue(page, json::object(), impl, "/section_templates", 0)}});
            }
            templates.push_back(
                json{{"name", name},
                     {"starting_page", TaggedValue(t.starting_page, json::object(), impl, "/section_templates", 0)},
                     {"current_section", t.current_section},
                     {"sections", std::move(sections)}});
        }
        out["section_templates"] = std::move(templates);
        out["active_layout"] = json{{"name", s.active_layout_name}, {"kind", s.active_layout_kind}};
        return out.dump(1, ' ', false, json::error_handler_t::replace) + "\n";
    } catch (const SchemaError& e) {
        throw DocumentError(FileName(impl.path) + ": no snapshot of " + e.pointer + ": " + e.message);
    }
}

}  // namespace crv::standalone
