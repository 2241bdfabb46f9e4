// Writing a map document: the JSON tree of what the host holds, with what this version does
// not use kept, laid out by a writer of our own, and saved atomically.
#include "standalone/document/DocumentInternal.h"

#include "standalone/document/JsonPositions.h"
#include "support/AtomicFile.h"
#include "support/Errors.h"
#include "support/MessageText.h"

#include <cmath>
#include <map>
#include <vector>

namespace crv::standalone {

using namespace document_internal;

namespace {

json WriteRect(const Rect& r) { return json::array({r.xmin, r.ymin, r.xmax, r.ymax}); }

// Keeps `raw`'s members that this version does not write and puts the known ones in front,
// in the format's order.
json Merge(const json& raw, json known) {
    if (raw.is_object()) {
        for (auto it = raw.begin(); it != raw.end(); ++it) {
            if (!known.contains(it.key())) known[it.key()] = it.value();
        }
    }
    return known;
}

std::string PathText(const fs::path& target, const fs::path& folder) {
    if (target.empty()) return {};
    std::error_code ec;
    fs::path rel = fs::relative(target, folder.empty() ? fs::path(".") : folder, ec);
    return (ec || rel.empty()) ? target.generic_string() : rel.generic_string();
}

// ------------------------------------------------------------------ values

void WriteValue(const Variant& v, json& out, const Document::Contents& impl, const std::string& where, int depth);

}  // namespace

namespace document_internal {

json TaggedValue(const Variant& v, const json& extras, const Document::Contents& impl, const std::string& where,
                 int depth) {
    json out = json::object();
    WriteValue(v, out, impl, where, depth);
    return Merge(extras, std::move(out));
}

}  // namespace document_internal

namespace {

void WriteValue(const Variant& v, json& out, const Document::Contents& impl, const std::string& where, int depth) {
    switch (v.Type()) {
        case VariantType::Empty: out["kind"] = "empty"; return;
        case VariantType::Null: out["kind"] = "null"; return;
        case VariantType::Boolean:
            out["kind"] = "boolean";
            out["value"] = v.AsBoolean();
            return;
        case VariantType::Integer:
            out["kind"] = "int16";
            out["value"] = v.AsInteger();
            return;
        case VariantType::Long:
            out["kind"] = "int32";
            out["value"] = v.AsLong();
            return;
        case VariantType::Double: {
            out["kind"] = "double";
            const double d = v.AsDouble();
            if (std::isnan(d))
                out["value"] = "NaN";
            else if (std::isinf(d))
                out["value"] = d > 0 ? "Infinity" : "-Infinity";
            else
                out["value"] = d;
            return;
        }
        case VariantType::String:
            out["kind"] = "string";
            out["value"] = v.AsString();
            return;
        case VariantType::Object: {
            auto contents = v.ObjectAs<BagContents>();
            if (!contents) Fail(where, "an object value other than a property bag has no saved form");
            if (depth > kMaxBagNesting) Fail(where, BagsTooDeep());
            const void* id = Identity(v.AsObject());
            auto raw = impl.bags.find(id);
            out["kind"] = "bag";
            json entries = json::array();
            for (const auto& [k, value] : contents->Entries()) {
                json entryExtras = json::object();
                if (raw != impl.bags.end()) {
                    if (auto e = raw->second.entries.find(k); e != raw->second.entries.end()) entryExtras = e->second;
                }
                json entry = json::object();
                entry["key"] = k;
                WriteValue(value, entry, impl, Child(Child(where, "entries"), entries.size()), depth + 1);
                entries.push_back(Merge(entryExtras, std::move(entry)));
            }
            out["entries"] = std::move(entries);
            if (raw != impl.bags.end()) out = Merge(raw->second.extras, std::move(out));
            return;
        }
    }
}

// What is written is what loads again: the same limits as the reader's.
json WriteElement(const ComPtr<LayoutElement>& e, const Document::Contents& impl, const fs::path& folder,
                  const std::string& ptr, int depth, std::map<std::string, std::string>& names) {
    ElementImpl& el = StandaloneHost::ElementOf(e);
    const auto* info = impl.Find(e);
    if (!el.name().empty() && !names.emplace(el.name(), ptr).second) {
        Fail(Child(ptr, "name"), "another element is named " + QuotedValue(el.name()) + " (" + names[el.name()] + ")");
    }
    const auto rect = [&](const char* member) {
        CheckRect(el.OutlineRect(), impl.units, Child(ptr, member));
        return WriteRect(el.OutlineRect());
    };
    const json raw = info != nullptr ? info->raw : json::object();
    json out = json::object();
    switch (el.Kind()) {
        case ElementKind::Text:
        case ElementKind::Picture:
            out["type"] = ElementTypeName(el.Kind());
            out["name"] = el.name();
            out["rect"] = rect("rect");
            if (el.Kind() == ElementKind::Text) {
                out["text"] = el.text;
                if (info != nullptr && info->style.font_size > 0) out["font_size"] = info->style.font_size;
                if (info != nullptr && info->style.align != "center") out["align"] = info->style.align;
            } else if (info != nullptr && !info->style.picture.empty()) {
                out["file"] = PathText(info->style.picture, folder);
            }
            break;
        case ElementKind::MapFrame: {
            out["type"] = ElementTypeName(el.Kind());
            out["name"] = el.name();
            out["outline"] = rect("outline");
            CheckRange(el.FrameBorder(), 0, kMaxPageSideInches * PerInch(impl.units), impl.units, Child(ptr, "border"),
                       "a border width");
            out["border"] = el.FrameBorder();
            if (info != nullptr && !info->style.label_field.empty()) out["label_field"] = info->style.label_field;
            if (info != nullptr && info->series && el.series) {
                const SeriesOrigin& origin = *info->series;
                json s = json::object();
                s["name"] = el.series->name;
                s["dataset"] = PathText(origin.dataset, folder);
                s["layer"] = origin.layer;
                s["order_field"] = origin.order_field.empty() ? json(nullptr) : json(origin.order_field);
                s["first_page"] = el.series->first_page_number;
                s["enabled"] = el.series->enabled;
                s["current_page"] = el.series->first_page_number + el.series->current_position - 1;
                out["series"] = Merge(info->series_raw, std::move(s));
            }
            break;
        }
        default: {
            out["type"] = ElementTypeName(el.Kind());
            out["name"] = el.name();
            out["members_by"] = GroupMembersBy(el.Kind());
            if (depth >= kMaxGroupNesting) Fail(ptr, GroupsTooDeep());
            json members = json::array();
            for (const auto& m : el.Members()) {
                members.push_back(
                    WriteElement(m, impl, folder, Child(Child(ptr, "members"), members.size()), depth + 1, names));
            }
            out["members"] = std::move(members);
            break;
        }
    }
    if (!el.custom().IsEmpty()) {
        const json extras = raw.is_object() && raw.contains("custom")
                                ? Without(raw["custom"], {"kind", "value", "entries"})
                                : json::object();
        out["custom"] = TaggedValue(el.custom(), extras, impl, Child(ptr, "custom"), 0);
    }
    json kept = Without(raw, {"custom", "series", "members", "text", "file", "font_size", "align", "label_field",
                              "rect", "outline", "border", "members_by"});
    return Merge(kept, std::move(out));
}

// ------------------------------------------------------------------ text

// The document's text, laid out as the JSON library lays it out with an indent of 2, with kept
// numbers as their text. A string that is not UTF-8 has no JSON form: it is refused, named by
// where it stands.
class JsonWriter {
public:
    std::string out;

    void Value(const json& j, size_t indent) {
        switch (j.type()) {
            case json::value_t::object: {
                if (j.empty()) {
                    out += "{}";
                    return;
                }
                out += "{\n";
                bool first = true;
                for (auto it = j.begin(); it != j.end(); ++it) {
                    if (!first) out += ",\n";
                    first = false;
                    out.append(indent + 2, ' ');
                    Text(it.key(), "a member name");
                    out += ": ";
                    where_.push_back(EscapePointerToken(it.key()));
                    Value(it.value(), indent + 2);
                    where_.pop_back();
                }
                out += '\n';
                out.append(indent, ' ');
                out += '}';
                return;
            }
            case json::value_t::array: {
                if (j.empty()) {
                    out += "[]";
                    return;
                }
                out += "[\n";
                for (size_t k = 0; k < j.size(); ++k) {
                    if (k > 0) out += ",\n";
                    out.append(indent + 2, ' ');
                    where_.push_back(std::to_string(k));
                    Value(j[k], indent + 2);
                    where_.pop_back();
                }
                out += '\n';
                out.append(indent, ' ');
                out += ']';
                return;
            }
            case json::value_t::string: Text(j.get_ref<const std::string&>(), "text"); return;
            case json::value_t::binary:
                if (const auto* raw = RawNumber(j)) {
                    out.append(raw->begin(), raw->end());
                    return;
                }
                Fail(Where(), "binary data has no JSON form");
            default: out += j.dump(); return;
        }
    }

private:
    std::vector<std::string> where_;

    std::string Where() const {
        std::string p;
        for (const auto& token : where_) p += "/" + token;
        return p;
    }
    void Text(const std::string& s, const char* what) {
        if (!IsValidUtf8(s)) Fail(Where(), std::string(what) + " that is not UTF-8: " + QuotedValue(s));
        out += json(s).dump();
    }
};

// The whole document as JSON: what the host holds, with what this version does not use kept.
json DocumentTree(const HostState& s, const Document::Contents& impl, const fs::path& folder) {
    json out = json::object();
    out["format"] = kDocumentFormatName;
    out["version"] = kDocumentFormatVersion;
    json page = json::object();
    page["width"] = s.page_width;
    page["height"] = s.page_height;
    page["units"] = impl.units;
    out["page"] = Merge(impl.root.is_object() && impl.root.contains("page") ? impl.root["page"] : json::object(), page);
    CheckPageSide(s.page_width, impl.units, "/page/width", "width");
    CheckPageSide(s.page_height, impl.units, "/page/height", "height");
    json elements = json::array();
    std::map<std::string, std::string> names;
    for (const auto& e : s.elements)
        elements.push_back(WriteElement(e, impl, folder, Child("/elements", elements.size()), 0, names));
    out["elements"] = std::move(elements);

    json layouts = json::array();
    for (const auto& [n, current] : s.series_layouts) {
        json l = json::object();
        l["name"] = n;
        auto raw = impl.series_layout_raw.find(n);
        l["current_page"] = TaggedValue(current, json::object(), impl,
                                        Child(Child("/series_layouts", layouts.size()), "current_page"), 0);
        layouts.push_back(Merge(raw != impl.series_layout_raw.end() ? raw->second : json::object(), std::move(l)));
    }
    out["series_layouts"] = std::move(layouts);

    json templates = json::array();
    for (const auto& [n, t] : s.section_templates) {
        json j = json::object();
        j["name"] = n;
        j["starting_page"] = TaggedValue(t.starting_page, json::object(), impl,
                                         Child(Child("/section_templates", templates.size()), "starting_page"), 0);
        j["current_section"] = t.current_section;
        json sections = json::array();
        for (const auto& [sn, page_value] : t.section_pages) {
            json sj = json::object();
            sj["name"] = sn;
            sj["page"] = TaggedValue(
                page_value, json::object(), impl,
                Child(Child(Child(Child("/section_templates", templates.size()), "sections"), sections.size()), "page"),
                0);
            auto raw = impl.section_raw.find({n, sn});
            sections.push_back(Merge(raw != impl.section_raw.end() ? raw->second : json::object(), std::move(sj)));
        }
        j["sections"] = std::move(sections);
        auto raw = impl.template_raw.find(n);
        templates.push_back(Merge(raw != impl.template_raw.end() ? raw->second : json::object(), std::move(j)));
    }
    out["section_templates"] = std::move(templates);

    if (s.active_layout_name.empty() && s.active_layout_kind.empty()) {
        out["active_layout"] = nullptr;
    } else {
        json a = json::object();
        a["name"] = s.active_layout_name;
        a["kind"] = s.active_layout_kind;
        out["active_layout"] = Merge(impl.active_raw, std::move(a));
    }
    return Merge(impl.root, std::move(out));
}

}  // namespace

std::string Document::Text(const fs::path& folder) const { return Write(folder, contents_->path); }

std::string Document::Write(const fs::path& folder, const fs::path& destination) const {
    try {
        JsonWriter writer;
        writer.Value(DocumentTree(host_.State(), *contents_, folder), 0);
        return writer.out + "\n";
    } catch (const SchemaError& e) {
        throw DocumentError(FileName(destination) + ": cannot save " +
                            (e.pointer.empty() ? std::string("/") : e.pointer) + ": " + e.message);
    }
}

void Document::Save(const fs::path& path) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string text = Write(folder, path);
    try {
        WriteFileAtomically(path, text, "Document");
    } catch (const FileWriteError& e) {
        throw DocumentError(e.what());
    }
    contents_->path = path;
}

}  // namespace crv::standalone
