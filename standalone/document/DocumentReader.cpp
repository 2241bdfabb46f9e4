// Reading a map document: the checks of what its tree holds, and the host state built from it
// before the host sees any of it.
#include "standalone/document/DocumentInternal.h"

#include "standalone/document/JsonPositions.h"
#include "standalone/document/SeriesSource.h"
#include "support/Errors.h"
#include "support/MessageText.h"

#include <algorithm>
#include <limits>
#include <map>
#include <set>

namespace crv::standalone {

using namespace document_internal;

namespace {

std::string RawText(const json::binary_t& b) { return std::string(b.begin(), b.end()); }

const char* JsonKind(const json& j) {
    if (RawNumber(j) != nullptr) return "a number";
    return FoundKind(j);
}

void ExpectObject(const json& j, const std::string& ptr) {
    if (!j.is_object()) Fail(ptr, std::string("expected an object, found ") + JsonKind(j));
}

const json& Required(const json& obj, const char* key, const std::string& ptr) {
    auto it = obj.find(key);
    if (it == obj.end()) Fail(ptr, std::string("missing \"") + key + "\"");
    return *it;
}

const json* Optional(const json& obj, const char* key) {
    auto it = obj.find(key);
    return it == obj.end() ? nullptr : &*it;
}

std::string String(const json& j, const std::string& ptr) {
    if (!j.is_string()) Fail(ptr, std::string("expected a string, found ") + JsonKind(j));
    return j.get<std::string>();
}

// Found by name, so a second of the same name could never be: it would be merged into the first
// or shadowed by it. `seen` maps each name to where it stands first.
void RequireFirstNamed(std::map<std::string, std::string>& seen, const std::string& name, const std::string& ptr,
                       const std::string& what) {
    const auto [first, added] = seen.emplace(name, ptr);
    if (!added) Fail(Child(ptr, "name"), "another " + what + " is named " + QuotedValue(name) + " (" + first->second + ")");
}

bool Boolean(const json& j, const std::string& ptr) {
    if (!j.is_boolean()) Fail(ptr, std::string("expected true or false, found ") + JsonKind(j));
    return j.get<bool>();
}

double Number(const json& j, const std::string& ptr) {
    // The nearest double, as the parser would have read it (finite: the parser refuses others).
    if (const auto* raw = RawNumber(j)) return json::parse(RawText(*raw)).get<double>();
    if (!j.is_number()) Fail(ptr, std::string("expected a number, found ") + JsonKind(j));
    return j.get<double>();
}

int64_t WholeNumber(const json& j, const std::string& ptr, int64_t lo, int64_t hi) {
    const std::string range = WholeNumberExpected(lo, hi);
    if (const auto* raw = RawNumber(j)) Fail(ptr, range + ", found " + NumberShown(RawText(*raw)));
    if (j.is_number_unsigned()) {
        const uint64_t u = j.get<uint64_t>();
        if (u > static_cast<uint64_t>(hi)) Fail(ptr, range + ", found " + std::to_string(u));
        return static_cast<int64_t>(u);
    }
    if (!j.is_number_integer()) Fail(ptr, range + ", found " + JsonKind(j));
    const int64_t v = j.get<int64_t>();
    if (v < lo || v > hi) Fail(ptr, range + ", found " + std::to_string(v));
    return v;
}

Rect ReadRect(const json& j, const std::string& ptr, const std::string& units) {
    if (!j.is_array() || j.size() != 4) Fail(ptr, "expected an array of four numbers [xmin, ymin, xmax, ymax]");
    Rect r{Number(j[0], Child(ptr, size_t{0})), Number(j[1], Child(ptr, size_t{1})),
           Number(j[2], Child(ptr, size_t{2})), Number(j[3], Child(ptr, size_t{3}))};
    if (r.xmin > r.xmax || r.ymin > r.ymax) Fail(ptr, "expected xmin <= xmax and ymin <= ymax");
    CheckRect(r, units, ptr);
    return r;
}

fs::path Resolve(const std::string& text, const fs::path& folder) {
    fs::path p(text);
    if (p.is_absolute()) return p.lexically_normal();
    return (fs::absolute(folder) / p).lexically_normal();
}

const std::set<std::string>& UnitNames() {
    static const std::set<std::string> units = {"inches", "centimeters", "millimeters", "points"};
    return units;
}

// ------------------------------------------------------------------ values

struct Reader {
    StandaloneHost& host;
    fs::path folder;
    Document::Contents& next;
    std::map<std::string, std::string> names;  // element name -> where it first stands

    Variant Value(const json& j, const std::string& ptr, int depth) {
        ExpectObject(j, ptr);
        if (depth > kMaxBagNesting) Fail(ptr, BagsTooDeep());
        const std::string kind = String(Required(j, "kind", ptr), Child(ptr, "kind"));
        const std::string vptr = Child(ptr, "value");
        auto value = [&]() -> const json& { return Required(j, "value", ptr); };
        if (kind == "empty") return {};
        if (kind == "null") return Variant::Null();
        if (kind == "boolean") return Variant(Boolean(value(), vptr));
        if (kind == "int16") {
            return Variant(static_cast<int16_t>(
                WholeNumber(value(), vptr, std::numeric_limits<int16_t>::min(), std::numeric_limits<int16_t>::max())));
        }
        if (kind == "int32") {
            return Variant(static_cast<int32_t>(
                WholeNumber(value(), vptr, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())));
        }
        if (kind == "double") {
            const json& v = value();
            if (v.is_string()) {
                const std::string s = v.get<std::string>();
                if (s == "NaN") return Variant(std::numeric_limits<double>::quiet_NaN());
                if (s == "Infinity") return Variant(std::numeric_limits<double>::infinity());
                if (s == "-Infinity") return Variant(-std::numeric_limits<double>::infinity());
                Fail(vptr, DoubleExpected());
            }
            return Variant(Number(v, vptr));
        }
        if (kind == "string") return Variant(String(value(), vptr));
        if (kind == "bag") return Variant(Bag(j, ptr, depth));
        Fail(Child(ptr, "kind"), ValueKindExpected() + QuotedValue(kind));
    }

    ComPtr<PropertyBag> Bag(const json& j, const std::string& ptr, int depth) {
        const std::string eptr = Child(ptr, "entries");
        const json& entries = Required(j, "entries", ptr);
        if (!entries.is_array()) Fail(eptr, std::string("expected an array, found ") + JsonKind(entries));
        ComPtr<PropertyBag> bag = MakeCom<PropertyBag, PropertyBagImpl>();
        Document::Contents::BagRaw raw;
        raw.keep = ComPtr<Unknown>(bag);
        raw.extras = Without(j, {"kind", "entries", "value"});
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::string iptr = Child(eptr, i);
            ExpectObject(entries[i], iptr);
            const std::string k = String(Required(entries[i], "key", iptr), Child(iptr, "key"));
            if (raw.entries.count(k) != 0)
                Fail(Child(iptr, "key"), "duplicate key " + QuotedValue(k) + " in a property bag");
            bag->SetProperty(k, Value(entries[i], iptr, depth + 1));
            raw.entries[k] = Without(entries[i], {"key", "kind", "value", "entries"});
        }
        next.bags[Identity(bag)] = std::move(raw);
        return bag;
    }

    // `depth`: the groups this element is a member of.
    ComPtr<LayoutElement> Element(const json& j, const std::string& ptr, int depth) {
        ExpectObject(j, ptr);
        const std::string type = String(Required(j, "type", ptr), Child(ptr, "type"));
        std::string name;
        if (const json* n = Optional(j, "name")) name = String(*n, Child(ptr, "name"));
        if (!name.empty()) RequireFirstNamed(names, name, ptr, "element");
        Document::Contents::ElementInfo info;
        info.raw = j;
        ComPtr<LayoutElement> e;
        if (type == "text" || type == "picture") {
            const Rect r = ReadRect(Required(j, "rect", ptr), Child(ptr, "rect"), next.units);
            e = host.Make(type == "text" ? ElementKind::Text : ElementKind::Picture, name, r);
            if (type == "text") {
                if (const json* t = Optional(j, "text"))
                    StandaloneHost::ElementOf(e).text = String(*t, Child(ptr, "text"));
                if (const json* a = Optional(j, "align")) {
                    info.style.align = String(*a, Child(ptr, "align"));
                    if (info.style.align != "left" && info.style.align != "center" && info.style.align != "right") {
                        Fail(Child(ptr, "align"),
                             "expected \"left\", \"center\" or \"right\", found " + QuotedValue(info.style.align));
                    }
                }
                if (const json* f = Optional(j, "font_size")) {
                    info.style.font_size = Number(*f, Child(ptr, "font_size"));
                    CheckRange(info.style.font_size, 0, kMaxFontSizePoints, "points", Child(ptr, "font_size"),
                               "a size");
                }
            } else if (const json* f = Optional(j, "file")) {
                info.style.picture = Resolve(String(*f, Child(ptr, "file")), folder);
            }
        } else if (type == "map_frame") {
            const Rect r = ReadRect(Required(j, "outline", ptr), Child(ptr, "outline"), next.units);
            e = host.Make(ElementKind::MapFrame, name, r);
            if (const json* b = Optional(j, "border")) {
                const double border = Number(*b, Child(ptr, "border"));
                CheckRange(border, 0, kMaxPageSideInches * PerInch(next.units), next.units, Child(ptr, "border"),
                           "a border width");
                StandaloneHost::ElementOf(e).SetFrameBorder(border);
            }
            if (const json* l = Optional(j, "label_field"))
                info.style.label_field = String(*l, Child(ptr, "label_field"));
            if (const json* s = Optional(j, "series")) Series(*s, Child(ptr, "series"), e, info);
        } else if (type == "group") {
            if (depth >= kMaxGroupNesting) Fail(ptr, GroupsTooDeep());
            ElementKind kind = ElementKind::Group;
            if (const json* m = Optional(j, "members_by")) {
                const std::string by = String(*m, Child(ptr, "members_by"));
                const std::optional<ElementKind> byKind = GroupKindOf(by);
                if (!byKind) {
                    Fail(Child(ptr, "members_by"),
                         "expected \"walk\", \"index\" or \"both\", found " + QuotedValue(by));
                }
                kind = *byKind;
            }
            e = host.Make(kind, name, {});
            const std::string mptr = Child(ptr, "members");
            const json& members = Required(j, "members", ptr);
            if (!members.is_array()) Fail(mptr, std::string("expected an array, found ") + JsonKind(members));
            for (size_t i = 0; i < members.size(); ++i) {
                StandaloneHost::ElementOf(e).AddMember(Element(members[i], Child(mptr, i), depth + 1));
            }
        } else {
            Fail(Child(ptr, "type"),
                 "expected \"text\", \"picture\", \"map_frame\" or \"group\", found " + QuotedValue(type));
        }
        if (const json* c = Optional(j, "custom")) e->SetCustomProperty(Value(*c, Child(ptr, "custom"), 0));
        info.element = e;
        next.AddElement(std::move(info));
        return e;
    }

    void Series(const json& j, const std::string& ptr, const ComPtr<LayoutElement>& frame,
                Document::Contents::ElementInfo& info) {
        ExpectObject(j, ptr);
        SeriesOrigin origin;
        origin.dataset = Resolve(String(Required(j, "dataset", ptr), Child(ptr, "dataset")), folder);
        if (const json* l = Optional(j, "layer")) origin.layer = String(*l, Child(ptr, "layer"));
        if (const json* o = Optional(j, "order_field"); o != nullptr && !o->is_null()) {
            origin.order_field = String(*o, Child(ptr, "order_field"));
        }
        if (const json* f = Optional(j, "first_page")) {
            origin.first_page = static_cast<int32_t>(WholeNumber(*f, Child(ptr, "first_page"), -1000000, 1000000));
        }
        if (const json* e = Optional(j, "enabled")) origin.enabled = Boolean(*e, Child(ptr, "enabled"));
        SeriesData data;
        try {
            data = ReadIndexLayer({origin.dataset, origin.layer, origin.order_field});
        } catch (const SeriesSourceError& err) {
            Fail(Child(ptr, "dataset"), PlainOrQuoted(err.what()));
        }
        if (const json* n = Optional(j, "name")) data.name = String(*n, Child(ptr, "name"));
        data.first_page_number = origin.first_page;
        data.enabled = origin.enabled;
        data.current_position = 1;
        if (const json* c = Optional(j, "current_page")) {
            const int64_t page = WholeNumber(*c, Child(ptr, "current_page"), -1000000, 2000000);
            const int64_t pos = page - origin.first_page + 1;
            // A dataset that lost pages since the save starts the document at its first page.
            if (pos >= 1 && pos <= static_cast<int64_t>(data.PageCount()))
                data.current_position = static_cast<int32_t>(pos);
        }
        StandaloneHost::ElementOf(frame).series = std::make_shared<SeriesData>(std::move(data));
        info.series = origin;
        info.series_raw = j;
    }
};

}  // namespace

void Document::Load(const fs::path& path) { LoadText(ReadDocumentFile(path), path); }

void Document::LoadForUpdate(const fs::path& path) {
    std::unique_ptr<FileLock> lock;
    try {
        lock = std::make_unique<FileLock>(path, FileName(path));
    } catch (const FileWriteError& e) {
        throw DocumentError(e.what());
    }
    Load(path);
    contents_->lock = std::move(lock);
}

void Document::LoadText(const std::string& text, const fs::path& path) {
    const std::string name = FileName(path);
    const auto located = [&](size_t offset, const std::string& message) {
        const auto [line, column] = LineColumnAt(text, offset);
        return DocumentError(name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message);
    };
    json root = ParseDocumentText(text, name);

    auto next = std::make_unique<Contents>();
    next->path = path;
    HostState state;
    try {
        ExpectObject(root, "");
        const std::string format = String(Required(root, "format", ""), "/format");
        if (format != kDocumentFormatName) {
            Fail("/format", std::string("expected \"") + kDocumentFormatName + "\", found " + QuotedValue(format));
        }
        const int64_t version = WholeNumber(Required(root, "version", ""), "/version", 1, 1000000);
        if (version > kDocumentFormatVersion) {
            Fail("/version", "expected format version " + std::to_string(kDocumentFormatVersion) + " or lower, found " +
                                 std::to_string(version) + " (written by a newer program)");
        }
        const json& page = Required(root, "page", "");
        ExpectObject(page, "/page");
        if (const json* u = Optional(page, "units")) {
            next->units = String(*u, "/page/units");
            if (UnitNames().count(next->units) == 0) {
                Fail("/page/units", "expected \"inches\", \"centimeters\", \"millimeters\" or \"points\", found " +
                                        QuotedValue(next->units));
            }
        }
        state.page_width = Number(Required(page, "width", "/page"), "/page/width");
        state.page_height = Number(Required(page, "height", "/page"), "/page/height");
        CheckPageSide(state.page_width, next->units, "/page/width", "width");
        CheckPageSide(state.page_height, next->units, "/page/height", "height");

        Reader reader{host_, path.has_parent_path() ? path.parent_path() : fs::path("."), *next, {}};
        const json& elements = Required(root, "elements", "");
        if (!elements.is_array()) Fail("/elements", std::string("expected an array, found ") + JsonKind(elements));
        for (size_t i = 0; i < elements.size(); ++i) {
            state.elements.push_back(reader.Element(elements[i], Child("/elements", i), 0));
        }

        if (const json* layouts = Optional(root, "series_layouts")) {
            if (!layouts->is_array()) Fail("/series_layouts", "expected an array");
            std::map<std::string, std::string> layoutNames;
            for (size_t i = 0; i < layouts->size(); ++i) {
                const std::string p = Child("/series_layouts", i);
                const json& l = (*layouts)[i];
                ExpectObject(l, p);
                const std::string n = String(Required(l, "name", p), Child(p, "name"));
                RequireFirstNamed(layoutNames, n, p, "map series layout");
                state.series_layouts[n] = reader.Value(Required(l, "current_page", p), Child(p, "current_page"), 0);
                next->series_layout_raw[n] = Without(l, {"name", "current_page"});
            }
        }
        if (const json* templates = Optional(root, "section_templates")) {
            if (!templates->is_array()) Fail("/section_templates", "expected an array");
            std::map<std::string, std::string> templateNames;
            for (size_t i = 0; i < templates->size(); ++i) {
                const std::string p = Child("/section_templates", i);
                const json& t = (*templates)[i];
                ExpectObject(t, p);
                const std::string n = String(Required(t, "name", p), Child(p, "name"));
                RequireFirstNamed(templateNames, n, p, "section template");
                SectionTemplate st;
                st.starting_page = reader.Value(Required(t, "starting_page", p), Child(p, "starting_page"), 0);
                if (const json* c = Optional(t, "current_section"))
                    st.current_section = String(*c, Child(p, "current_section"));
                if (const json* sections = Optional(t, "sections")) {
                    if (!sections->is_array()) Fail(Child(p, "sections"), "expected an array");
                    std::map<std::string, std::string> sectionNames;
                    for (size_t k = 0; k < sections->size(); ++k) {
                        const std::string sp = Child(Child(p, "sections"), k);
                        const json& s = (*sections)[k];
                        ExpectObject(s, sp);
                        const std::string sn = String(Required(s, "name", sp), Child(sp, "name"));
                        RequireFirstNamed(sectionNames, sn, sp, "section");
                        st.section_pages[sn] = reader.Value(Required(s, "page", sp), Child(sp, "page"), 0);
                        next->section_raw[{n, sn}] = Without(s, {"name", "page"});
                    }
                }
                state.section_templates[n] = std::move(st);
                next->template_raw[n] = Without(t, {"name", "starting_page", "current_section", "sections"});
            }
        }
        if (const json* active = Optional(root, "active_layout"); active != nullptr && !active->is_null()) {
            ExpectObject(*active, "/active_layout");
            state.active_layout_name = String(Required(*active, "name", "/active_layout"), "/active_layout/name");
            state.active_layout_kind = String(Required(*active, "kind", "/active_layout"), "/active_layout/kind");
            next->active_raw = Without(*active, {"name", "kind"});
        }
    } catch (const SchemaError& e) {
        throw located(LocateJsonPointer(text, e.pointer).value_or(0),
                      (e.pointer.empty() ? std::string("/") : e.pointer) + ": " + e.message);
    }
    next->root = std::move(root);

    // Everything is built: only now does the host see the new document.
    HostState& live = host_.State();
    live.page_width = state.page_width;
    live.page_height = state.page_height;
    live.elements = std::move(state.elements);
    live.series_layouts = std::move(state.series_layouts);
    live.section_templates = std::move(state.section_templates);
    live.active_layout_name = std::move(state.active_layout_name);
    live.active_layout_kind = std::move(state.active_layout_kind);
    live.events.clear();
    contents_ = std::move(next);
}

}  // namespace crv::standalone
