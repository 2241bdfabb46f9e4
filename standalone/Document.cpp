#include "standalone/Document.h"

#include "standalone/AtomicFile.h"
#include "standalone/Errors.h"
#include "standalone/MessageText.h"
#include "standalone/SeriesSource.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <sstream>

namespace crv::standalone {

using json = nlohmann::ordered_json;
namespace fs = std::filesystem;

namespace {

// A file's name as a message shows it: as it stands when that is one plain line, else quoted
// with its control characters and stray bytes escaped.
std::string FileName(const fs::path& path) {
    const std::string name = path.string();
    const std::string quoted = QuotedValue(name, 200);
    return quoted.size() == name.size() + 2 ? name : quoted;
}

// A document that parses but does not say what this version expects.
struct SchemaError {
    std::string pointer;
    std::string message;
};

std::string Escape(const std::string& token) {
    std::string out;
    for (char c : token) {
        if (c == '~') out += "~0";
        else if (c == '/') out += "~1";
        else out += c;
    }
    return out;
}

std::string Child(const std::string& ptr, const std::string& key) { return ptr + "/" + Escape(key); }
std::string Child(const std::string& ptr, size_t index) { return ptr + "/" + std::to_string(index); }

[[noreturn]] void Fail(const std::string& ptr, const std::string& message) { throw SchemaError{ptr, message}; }

const char* JsonKind(const json& j) {
    switch (j.type()) {
        case json::value_t::null: return "null";
        case json::value_t::object: return "an object";
        case json::value_t::array: return "an array";
        case json::value_t::string: return "a string";
        case json::value_t::boolean: return "a boolean";
        case json::value_t::number_integer:
        case json::value_t::number_unsigned:
        case json::value_t::number_float: return "a number";
        default: return "an unusable value";
    }
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

bool Boolean(const json& j, const std::string& ptr) {
    if (!j.is_boolean()) Fail(ptr, std::string("expected true or false, found ") + JsonKind(j));
    return j.get<bool>();
}

double Number(const json& j, const std::string& ptr) {
    if (!j.is_number()) Fail(ptr, std::string("expected a number, found ") + JsonKind(j));
    return j.get<double>();
}

int64_t WholeNumber(const json& j, const std::string& ptr, int64_t lo, int64_t hi) {
    const std::string range = "expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
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

Rect ReadRect(const json& j, const std::string& ptr) {
    if (!j.is_array() || j.size() != 4) Fail(ptr, "expected an array of four numbers [xmin, ymin, xmax, ymax]");
    Rect r{Number(j[0], Child(ptr, size_t{0})), Number(j[1], Child(ptr, size_t{1})),
           Number(j[2], Child(ptr, size_t{2})), Number(j[3], Child(ptr, size_t{3}))};
    if (r.xmin > r.xmax || r.ymin > r.ymax) Fail(ptr, "expected xmin <= xmax and ymin <= ymax");
    return r;
}

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

json Without(const json& raw, std::initializer_list<const char*> keys) {
    json out = raw.is_object() ? raw : json::object();
    for (const char* k : keys) out.erase(k);
    return out;
}

std::string PathText(const fs::path& target, const fs::path& folder) {
    if (target.empty()) return {};
    std::error_code ec;
    fs::path rel = fs::relative(target, folder.empty() ? fs::path(".") : folder, ec);
    return (ec || rel.empty()) ? target.generic_string() : rel.generic_string();
}

fs::path Resolve(const std::string& text, const fs::path& folder) {
    fs::path p(text);
    if (p.is_absolute()) return p.lexically_normal();
    return (fs::absolute(folder) / p).lexically_normal();
}

const std::map<std::string, ElementKind>& GroupKinds() {
    static const std::map<std::string, ElementKind> kinds = {
        {"walk", ElementKind::Group}, {"index", ElementKind::IndexedGroup}, {"both", ElementKind::SequenceAndIndexedGroup}};
    return kinds;
}

const char* GroupAccess(ElementKind k) {
    switch (k) {
        case ElementKind::IndexedGroup: return "index";
        case ElementKind::SequenceAndIndexedGroup: return "both";
        default: return "walk";
    }
}

const std::set<std::string>& UnitNames() {
    static const std::set<std::string> units = {"inches", "centimeters", "millimeters", "points"};
    return units;
}

}  // namespace

// ------------------------------------------------------------------ the document's state

struct Document::Impl {
    struct ElementInfo {
        ComPtr<LayoutElement> element;
        json raw;
        ElementStyle style;
        std::optional<SeriesOrigin> series;
        json series_raw;
    };
    // The JSON of a property bag that is not its entries, and each entry's own extra members.
    struct BagRaw {
        ComPtr<Unknown> keep;
        json extras;
        std::map<std::string, json> entries;
    };

    fs::path path;
    std::string units = "inches";
    json root = json::object();
    std::vector<ElementInfo> elements;
    std::map<const void*, BagRaw> bags;
    std::map<std::string, json> series_layout_raw;
    std::map<std::string, json> template_raw;
    std::map<std::pair<std::string, std::string>, json> section_raw;
    json active_raw;

    const ElementInfo* Find(const ComPtr<LayoutElement>& e) const {
        const void* id = Identity(e);
        for (const auto& info : elements) {
            if (Identity(info.element) == id) return &info;
        }
        return nullptr;
    }
};

namespace {

// ------------------------------------------------------------------ values

struct Reader {
    StandaloneHost& host;
    fs::path folder;
    Document::Impl& next;

    Variant Value(const json& j, const std::string& ptr, int depth) {
        ExpectObject(j, ptr);
        if (depth > 64) Fail(ptr, "property bags nested too deeply");
        const std::string kind = String(Required(j, "kind", ptr), Child(ptr, "kind"));
        const std::string vptr = Child(ptr, "value");
        auto value = [&]() -> const json& { return Required(j, "value", ptr); };
        if (kind == "empty") return {};
        if (kind == "null") return Variant::Null();
        if (kind == "boolean") return Variant(Boolean(value(), vptr));
        if (kind == "int16") {
            return Variant(static_cast<int16_t>(WholeNumber(value(), vptr, std::numeric_limits<int16_t>::min(),
                                                            std::numeric_limits<int16_t>::max())));
        }
        if (kind == "int32") {
            return Variant(static_cast<int32_t>(WholeNumber(value(), vptr, std::numeric_limits<int32_t>::min(),
                                                            std::numeric_limits<int32_t>::max())));
        }
        if (kind == "double") {
            const json& v = value();
            if (v.is_string()) {
                const std::string s = v.get<std::string>();
                if (s == "NaN") return Variant(std::numeric_limits<double>::quiet_NaN());
                if (s == "Infinity") return Variant(std::numeric_limits<double>::infinity());
                if (s == "-Infinity") return Variant(-std::numeric_limits<double>::infinity());
                Fail(vptr, "expected a number, \"NaN\", \"Infinity\" or \"-Infinity\"");
            }
            return Variant(Number(v, vptr));
        }
        if (kind == "string") return Variant(String(value(), vptr));
        if (kind == "bag") return Variant(Bag(j, ptr, depth));
        Fail(Child(ptr, "kind"), "expected one of \"empty\", \"null\", \"boolean\", \"int16\", \"int32\", "
                                 "\"double\", \"string\", \"bag\"; found \"" + kind + "\"");
    }

    ComPtr<PropertyBag> Bag(const json& j, const std::string& ptr, int depth) {
        const std::string eptr = Child(ptr, "entries");
        const json& entries = Required(j, "entries", ptr);
        if (!entries.is_array()) Fail(eptr, std::string("expected an array, found ") + JsonKind(entries));
        ComPtr<PropertyBag> bag = MakeCom<PropertyBag, PropertyBagImpl>();
        Document::Impl::BagRaw raw;
        raw.keep = ComPtr<Unknown>(bag);
        raw.extras = Without(j, {"kind", "entries", "value"});
        for (size_t i = 0; i < entries.size(); ++i) {
            const std::string iptr = Child(eptr, i);
            ExpectObject(entries[i], iptr);
            const std::string k = String(Required(entries[i], "key", iptr), Child(iptr, "key"));
            if (raw.entries.count(k) != 0) Fail(Child(iptr, "key"), "duplicate key \"" + k + "\" in a property bag");
            bag->SetProperty(k, Value(entries[i], iptr, depth + 1));
            raw.entries[k] = Without(entries[i], {"key", "kind", "value", "entries"});
        }
        next.bags[Identity(bag)] = std::move(raw);
        return bag;
    }

    ComPtr<LayoutElement> Element(const json& j, const std::string& ptr) {
        ExpectObject(j, ptr);
        const std::string type = String(Required(j, "type", ptr), Child(ptr, "type"));
        std::string name;
        if (const json* n = Optional(j, "name")) name = String(*n, Child(ptr, "name"));
        Document::Impl::ElementInfo info;
        info.raw = j;
        ComPtr<LayoutElement> e;
        if (type == "text" || type == "picture") {
            const Rect r = ReadRect(Required(j, "rect", ptr), Child(ptr, "rect"));
            e = host.Make(type == "text" ? ElementKind::Text : ElementKind::Picture, name, r);
            if (type == "text") {
                if (const json* t = Optional(j, "text")) StandaloneHost::Impl(e).text = String(*t, Child(ptr, "text"));
                if (const json* a = Optional(j, "align")) {
                    info.style.align = String(*a, Child(ptr, "align"));
                    if (info.style.align != "left" && info.style.align != "center" && info.style.align != "right") {
                        Fail(Child(ptr, "align"), "expected \"left\", \"center\" or \"right\", found \"" + info.style.align + "\"");
                    }
                }
                if (const json* f = Optional(j, "font_size")) {
                    info.style.font_size = Number(*f, Child(ptr, "font_size"));
                    if (info.style.font_size < 0) Fail(Child(ptr, "font_size"), "expected a size of 0 or more points");
                }
            } else if (const json* f = Optional(j, "file")) {
                info.style.picture = Resolve(String(*f, Child(ptr, "file")), folder);
            }
        } else if (type == "map_frame") {
            const Rect r = ReadRect(Required(j, "outline", ptr), Child(ptr, "outline"));
            e = host.Make(ElementKind::MapFrame, name, r);
            if (const json* b = Optional(j, "border")) {
                const double border = Number(*b, Child(ptr, "border"));
                if (border < 0) Fail(Child(ptr, "border"), "expected a border width of 0 or more");
                StandaloneHost::Impl(e).SetFrameBorder(border);
            }
            if (const json* l = Optional(j, "label_field")) info.style.label_field = String(*l, Child(ptr, "label_field"));
            if (const json* s = Optional(j, "series")) Series(*s, Child(ptr, "series"), e, info);
        } else if (type == "group") {
            ElementKind kind = ElementKind::Group;
            if (const json* m = Optional(j, "members_by")) {
                const std::string by = String(*m, Child(ptr, "members_by"));
                auto it = GroupKinds().find(by);
                if (it == GroupKinds().end()) {
                    Fail(Child(ptr, "members_by"), "expected \"walk\", \"index\" or \"both\", found \"" + by + "\"");
                }
                kind = it->second;
            }
            e = host.Make(kind, name, {});
            const std::string mptr = Child(ptr, "members");
            const json& members = Required(j, "members", ptr);
            if (!members.is_array()) Fail(mptr, std::string("expected an array, found ") + JsonKind(members));
            for (size_t i = 0; i < members.size(); ++i) {
                StandaloneHost::Impl(e).AddMember(Element(members[i], Child(mptr, i)));
            }
        } else {
            Fail(Child(ptr, "type"), "expected \"text\", \"picture\", \"map_frame\" or \"group\", found \"" + type + "\"");
        }
        if (const json* c = Optional(j, "custom")) e->SetCustomProperty(Value(*c, Child(ptr, "custom"), 0));
        info.element = e;
        next.elements.push_back(std::move(info));
        return e;
    }

    void Series(const json& j, const std::string& ptr, const ComPtr<LayoutElement>& frame,
                Document::Impl::ElementInfo& info) {
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
            Fail(Child(ptr, "dataset"), err.what());
        }
        if (const json* n = Optional(j, "name")) data.name = String(*n, Child(ptr, "name"));
        data.first_page_number = origin.first_page;
        data.enabled = origin.enabled;
        data.current_position = 1;
        if (const json* c = Optional(j, "current_page")) {
            const int64_t page = WholeNumber(*c, Child(ptr, "current_page"), -1000000, 2000000);
            const int64_t pos = page - origin.first_page + 1;
            // A dataset that lost pages since the save starts the document at its first page.
            if (pos >= 1 && pos <= static_cast<int64_t>(data.features.size())) data.current_position = static_cast<int32_t>(pos);
        }
        StandaloneHost::Impl(frame).series = std::make_shared<SeriesData>(std::move(data));
        info.series = origin;
        info.series_raw = j;
    }
};

void WriteValue(const Variant& v, json& out, const Document::Impl& impl, const std::string& where, int depth);

json TaggedValue(const Variant& v, const json& extras, const Document::Impl& impl, const std::string& where, int depth) {
    json out = json::object();
    WriteValue(v, out, impl, where, depth);
    return Merge(extras, std::move(out));
}

void WriteValue(const Variant& v, json& out, const Document::Impl& impl, const std::string& where, int depth) {
    switch (v.Type()) {
        case VariantType::Empty: out["kind"] = "empty"; return;
        case VariantType::Null: out["kind"] = "null"; return;
        case VariantType::Boolean: out["kind"] = "boolean"; out["value"] = v.AsBoolean(); return;
        case VariantType::Integer: out["kind"] = "int16"; out["value"] = v.AsInteger(); return;
        case VariantType::Long: out["kind"] = "int32"; out["value"] = v.AsLong(); return;
        case VariantType::Double: {
            out["kind"] = "double";
            const double d = v.AsDouble();
            if (std::isnan(d)) out["value"] = "NaN";
            else if (std::isinf(d)) out["value"] = d > 0 ? "Infinity" : "-Infinity";
            else out["value"] = d;
            return;
        }
        case VariantType::String: out["kind"] = "string"; out["value"] = v.AsString(); return;
        case VariantType::Object: {
            auto contents = v.ObjectAs<BagContents>();
            if (!contents) throw DocumentError(where + ": an object value other than a property bag cannot be saved");
            if (depth > 64) throw DocumentError(where + ": property bags nested too deeply to save");
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
                WriteValue(value, entry, impl, where + "/" + Escape(k), depth + 1);
                entries.push_back(Merge(entryExtras, std::move(entry)));
            }
            out["entries"] = std::move(entries);
            if (raw != impl.bags.end()) out = Merge(raw->second.extras, std::move(out));
            return;
        }
    }
}

json WriteElement(const ComPtr<LayoutElement>& e, const Document::Impl& impl, const fs::path& folder) {
    ElementImpl& el = StandaloneHost::Impl(e);
    const auto* info = impl.Find(e);
    const json raw = info != nullptr ? info->raw : json::object();
    json out = json::object();
    const std::string where = "element \"" + el.name() + "\"";
    switch (el.Kind()) {
        case ElementKind::Text:
        case ElementKind::Picture:
            out["type"] = el.Kind() == ElementKind::Text ? "text" : "picture";
            out["name"] = el.name();
            out["rect"] = WriteRect(el.OutlineRect());
            if (el.Kind() == ElementKind::Text) {
                out["text"] = el.text;
                if (info != nullptr && info->style.font_size > 0) out["font_size"] = info->style.font_size;
                if (info != nullptr && info->style.align != "center") out["align"] = info->style.align;
            } else if (info != nullptr && !info->style.picture.empty()) {
                out["file"] = PathText(info->style.picture, folder);
            }
            break;
        case ElementKind::MapFrame: {
            out["type"] = "map_frame";
            out["name"] = el.name();
            out["outline"] = WriteRect(el.OutlineRect());
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
            out["type"] = "group";
            out["name"] = el.name();
            out["members_by"] = GroupAccess(el.Kind());
            json members = json::array();
            for (const auto& m : el.Members()) members.push_back(WriteElement(m, impl, folder));
            out["members"] = std::move(members);
            break;
        }
    }
    if (!el.custom().IsEmpty()) {
        const json extras = raw.is_object() && raw.contains("custom") ? Without(raw["custom"], {"kind", "value", "entries"})
                                                                       : json::object();
        out["custom"] = TaggedValue(el.custom(), extras, impl, where, 0);
    }
    json kept = Without(raw, {"custom", "series", "members", "text", "file", "font_size", "align", "label_field", "rect", "outline",
                              "border", "members_by"});
    return Merge(kept, std::move(out));
}

// ------------------------------------------------------------------ files

std::string TooLarge() {
    return "larger than " + std::to_string(kMaxDocumentBytes >> 20) + " MiB, the most a document may hold";
}

// What a file that is not a regular one is, for the message that refuses it.
const char* FileKind(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a named pipe";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    if (S_ISSOCK(mode)) return "a socket";
    return "not a regular file";
}

std::string ReadFile(const fs::path& path) {
    const std::string name = FileName(path);
    const auto fail = [&](const std::string& why) { throw DocumentError(name + ": " + why); };
    // A pipe or a device would block the open or never end: look before opening.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) fail(std::string("cannot open: ") + std::strerror(errno));
    if (!S_ISREG(st.st_mode)) fail(std::string(FileKind(st.st_mode)) + ", not a document file");
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) fail(std::string("cannot open: ") + std::strerror(errno));
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    // Replaced by something else between the look and the open.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) fail(std::string(FileKind(st.st_mode)) + ", not a document file");
    const std::string tooLarge = TooLarge();
    if (static_cast<uint64_t>(st.st_size) > kMaxDocumentBytes) fail(tooLarge);
    std::string text;
    text.resize(static_cast<size_t>(st.st_size));
    size_t have = 0;
    while (true) {
        // A file that grows while read is read up to the limit and one byte more.
        if (have == text.size()) {
            if (have > kMaxDocumentBytes) fail(tooLarge);
            text.resize(std::min(kMaxDocumentBytes + 1, std::max<size_t>(have * 2, 4096)));
        }
        const ssize_t n = ::read(fd, text.data() + have, text.size() - have);
        if (n < 0) {
            if (errno == EINTR) continue;
            fail(std::string("cannot read: ") + std::strerror(errno));
        }
        if (n == 0) break;
        have += static_cast<size_t>(n);
    }
    if (have > kMaxDocumentBytes) fail(tooLarge);
    text.resize(have);
    return text;
}

// The parse error's own text after its "line L, column C: " prefix.
std::string ParseMessage(const std::string& what) {
    const std::string marker = "column ";
    size_t at = what.find(marker);
    if (at != std::string::npos) {
        at = what.find(": ", at);
        if (at != std::string::npos) return what.substr(at + 2);
    }
    at = what.find("] ");
    return at == std::string::npos ? what : what.substr(at + 2);
}

}  // namespace

// ------------------------------------------------------------------ JSON text positions

std::pair<size_t, size_t> LineColumnAt(const std::string& text, size_t offset) {
    offset = std::min(offset, text.size());
    size_t line = 1, column = 1;
    for (size_t i = 0; i < offset; ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return {line, column};
}

namespace {

struct Scanner {
    const std::string& t;
    size_t i = 0;

    void Ws() {
        while (i < t.size() && (t[i] == ' ' || t[i] == '\t' || t[i] == '\n' || t[i] == '\r')) ++i;
    }
    bool StringToken(std::string* out) {
        if (i >= t.size() || t[i] != '"') return false;
        ++i;
        while (i < t.size() && t[i] != '"') {
            if (t[i] == '\\' && i + 1 < t.size()) {
                const char c = t[i + 1];
                if (out != nullptr) {
                    switch (c) {
                        case 'n': *out += '\n'; break;
                        case 't': *out += '\t'; break;
                        case 'r': *out += '\r'; break;
                        case 'b': *out += '\b'; break;
                        case 'f': *out += '\f'; break;
                        default: *out += c;
                    }
                }
                i += 2;
                continue;
            }
            if (out != nullptr) *out += t[i];
            ++i;
        }
        if (i >= t.size()) return false;
        ++i;
        return true;
    }
    bool Skip() {
        Ws();
        if (i >= t.size()) return false;
        if (t[i] == '"') return StringToken(nullptr);
        if (t[i] == '{' || t[i] == '[') {
            const char close = t[i] == '{' ? '}' : ']';
            ++i;
            Ws();
            if (i < t.size() && t[i] == close) {
                ++i;
                return true;
            }
            while (i < t.size()) {
                if (close == '}') {
                    Ws();
                    if (!StringToken(nullptr)) return false;
                    Ws();
                    if (i >= t.size() || t[i] != ':') return false;
                    ++i;
                }
                if (!Skip()) return false;
                Ws();
                if (i < t.size() && t[i] == ',') {
                    ++i;
                    continue;
                }
                if (i < t.size() && t[i] == close) {
                    ++i;
                    return true;
                }
                return false;
            }
            return false;
        }
        while (i < t.size() && std::strchr(",]} \t\r\n", t[i]) == nullptr) ++i;
        return true;
    }
};

std::vector<std::string> PointerTokens(const std::string& pointer) {
    std::vector<std::string> tokens;
    size_t at = 0;
    while (at < pointer.size()) {
        const size_t from = at + 1;
        size_t to = pointer.find('/', from);
        if (to == std::string::npos) to = pointer.size();
        std::string tok;
        for (size_t k = from; k < to; ++k) {
            if (pointer[k] == '~' && k + 1 < to) {
                tok += pointer[k + 1] == '1' ? '/' : '~';
                ++k;
            } else {
                tok += pointer[k];
            }
        }
        tokens.push_back(tok);
        at = to;
    }
    return tokens;
}

}  // namespace

std::optional<size_t> LocateJsonPointer(const std::string& text, const std::string& pointer) {
    Scanner s{text};
    s.Ws();
    for (const std::string& tok : PointerTokens(pointer)) {
        s.Ws();
        if (s.i >= text.size()) return std::nullopt;
        if (text[s.i] == '{') {
            ++s.i;
            bool found = false;
            while (true) {
                s.Ws();
                std::string key;
                if (!s.StringToken(&key)) return std::nullopt;
                s.Ws();
                if (s.i >= text.size() || text[s.i] != ':') return std::nullopt;
                ++s.i;
                s.Ws();
                if (key == tok) {
                    found = true;
                    break;
                }
                if (!s.Skip()) return std::nullopt;
                s.Ws();
                if (s.i < text.size() && text[s.i] == ',') {
                    ++s.i;
                    continue;
                }
                return std::nullopt;
            }
            if (!found) return std::nullopt;
        } else if (text[s.i] == '[') {
            size_t index = 0;
            try {
                index = std::stoul(tok);
            } catch (...) {
                return std::nullopt;
            }
            ++s.i;
            for (size_t k = 0; k < index; ++k) {
                if (!s.Skip()) return std::nullopt;
                s.Ws();
                if (s.i >= text.size() || text[s.i] != ',') return std::nullopt;
                ++s.i;
            }
            s.Ws();
        } else {
            return std::nullopt;
        }
    }
    s.Ws();
    return s.i;
}

// ------------------------------------------------------------------ Document

Document::Document(StandaloneHost& host) : host_(host), impl_(std::make_unique<Impl>()) {}
Document::~Document() = default;

const fs::path& Document::Path() const { return impl_->path; }
const std::string& Document::Units() const { return impl_->units; }

const ElementStyle& Document::StyleOf(const ComPtr<LayoutElement>& element) const {
    static const ElementStyle none;
    const auto* info = impl_->Find(element);
    return info != nullptr ? info->style : none;
}

const SeriesOrigin* Document::SeriesOriginOf(const ComPtr<LayoutElement>& element) const {
    const auto* info = impl_->Find(element);
    return info != nullptr && info->series ? &*info->series : nullptr;
}

void Document::Load(const fs::path& path) { LoadText(ReadFile(path), path); }

void Document::LoadText(const std::string& text, const fs::path& path) {
    const std::string name = FileName(path);
    if (text.size() > kMaxDocumentBytes) {
        throw DocumentError(name + ": " + TooLarge());
    }
    json root;
    try {
        root = json::parse(text);
    } catch (const json::parse_error& e) {
        const size_t offset = e.byte > 0 ? e.byte - 1 : 0;
        const auto [line, column] = LineColumnAt(text, offset);
        throw DocumentError(name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + ParseMessage(e.what()));
    } catch (const json::exception& e) {
        // A number beyond the range of a double: the reader names the number, not where it
        // stands, so the place is that of its first appearance.
        const std::string what = e.what();
        const size_t open = what.find('\'');
        const size_t close = open == std::string::npos ? std::string::npos : what.find('\'', open + 1);
        const std::string token = close == std::string::npos ? std::string() : what.substr(open + 1, close - open - 1);
        const size_t at = token.empty() ? std::string::npos : text.find(token);
        const auto [line, column] = LineColumnAt(text, at == std::string::npos ? 0 : at);
        throw DocumentError(name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
                            (token.empty() ? ParseMessage(what) : "number out of range: " + token));
    }

    auto next = std::make_unique<Impl>();
    next->path = path;
    HostState state;
    try {
        ExpectObject(root, "");
        const std::string format = String(Required(root, "format", ""), "/format");
        if (format != kDocumentFormatName) {
            Fail("/format", std::string("expected \"") + kDocumentFormatName + "\", found \"" + format + "\"");
        }
        const int64_t version = WholeNumber(Required(root, "version", ""), "/version", 1, 1000000);
        if (version > kDocumentFormatVersion) {
            Fail("/version", "expected format version " + std::to_string(kDocumentFormatVersion) +
                                 " or lower, found " + std::to_string(version) + " (written by a newer program)");
        }
        const json& page = Required(root, "page", "");
        ExpectObject(page, "/page");
        state.page_width = Number(Required(page, "width", "/page"), "/page/width");
        state.page_height = Number(Required(page, "height", "/page"), "/page/height");
        if (!(state.page_width > 0)) Fail("/page/width", "expected a page width above 0");
        if (!(state.page_height > 0)) Fail("/page/height", "expected a page height above 0");
        if (const json* u = Optional(page, "units")) {
            next->units = String(*u, "/page/units");
            if (UnitNames().count(next->units) == 0) {
                Fail("/page/units", "expected \"inches\", \"centimeters\", \"millimeters\" or \"points\", found \"" +
                                        next->units + "\"");
            }
        }

        Reader reader{host_, path.has_parent_path() ? path.parent_path() : fs::path("."), *next};
        const json& elements = Required(root, "elements", "");
        if (!elements.is_array()) Fail("/elements", std::string("expected an array, found ") + JsonKind(elements));
        for (size_t i = 0; i < elements.size(); ++i) {
            state.elements.push_back(reader.Element(elements[i], Child("/elements", i)));
        }

        if (const json* layouts = Optional(root, "series_layouts")) {
            if (!layouts->is_array()) Fail("/series_layouts", "expected an array");
            for (size_t i = 0; i < layouts->size(); ++i) {
                const std::string p = Child("/series_layouts", i);
                const json& l = (*layouts)[i];
                ExpectObject(l, p);
                const std::string n = String(Required(l, "name", p), Child(p, "name"));
                state.series_layouts[n] = reader.Value(Required(l, "current_page", p), Child(p, "current_page"), 0);
                next->series_layout_raw[n] = Without(l, {"name", "current_page"});
            }
        }
        if (const json* templates = Optional(root, "section_templates")) {
            if (!templates->is_array()) Fail("/section_templates", "expected an array");
            for (size_t i = 0; i < templates->size(); ++i) {
                const std::string p = Child("/section_templates", i);
                const json& t = (*templates)[i];
                ExpectObject(t, p);
                const std::string n = String(Required(t, "name", p), Child(p, "name"));
                SectionTemplate st;
                st.starting_page = reader.Value(Required(t, "starting_page", p), Child(p, "starting_page"), 0);
                if (const json* c = Optional(t, "current_section")) st.current_section = String(*c, Child(p, "current_section"));
                if (const json* sections = Optional(t, "sections")) {
                    if (!sections->is_array()) Fail(Child(p, "sections"), "expected an array");
                    for (size_t k = 0; k < sections->size(); ++k) {
                        const std::string sp = Child(Child(p, "sections"), k);
                        const json& s = (*sections)[k];
                        ExpectObject(s, sp);
                        const std::string sn = String(Required(s, "name", sp), Child(sp, "name"));
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
        const size_t offset = LocateJsonPointer(text, e.pointer).value_or(0);
        const auto [line, column] = LineColumnAt(text, offset);
        throw DocumentError(name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " +
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
    impl_ = std::move(next);
}

std::string Document::Text(const fs::path& folder) const {
    const HostState& s = host_.State();
    json out = json::object();
    out["format"] = kDocumentFormatName;
    out["version"] = kDocumentFormatVersion;
    json page = json::object();
    page["width"] = s.page_width;
    page["height"] = s.page_height;
    page["units"] = impl_->units;
    out["page"] = Merge(impl_->root.is_object() && impl_->root.contains("page") ? impl_->root["page"] : json::object(), page);
    json elements = json::array();
    for (const auto& e : s.elements) elements.push_back(WriteElement(e, *impl_, folder));
    out["elements"] = std::move(elements);

    json layouts = json::array();
    for (const auto& [n, current] : s.series_layouts) {
        json l = json::object();
        l["name"] = n;
        auto raw = impl_->series_layout_raw.find(n);
        l["current_page"] = TaggedValue(current, json::object(), *impl_, "series layout \"" + n + "\"", 0);
        layouts.push_back(Merge(raw != impl_->series_layout_raw.end() ? raw->second : json::object(), std::move(l)));
    }
    out["series_layouts"] = std::move(layouts);

    json templates = json::array();
    for (const auto& [n, t] : s.section_templates) {
        json j = json::object();
        j["name"] = n;
        j["starting_page"] = TaggedValue(t.starting_page, json::object(), *impl_, "section template \"" + n + "\"", 0);
        j["current_section"] = t.current_section;
        json sections = json::array();
        for (const auto& [sn, page_value] : t.section_pages) {
            json sj = json::object();
            sj["name"] = sn;
            sj["page"] = TaggedValue(page_value, json::object(), *impl_, "section \"" + sn + "\"", 0);
            auto raw = impl_->section_raw.find({n, sn});
            sections.push_back(Merge(raw != impl_->section_raw.end() ? raw->second : json::object(), std::move(sj)));
        }
        j["sections"] = std::move(sections);
        auto raw = impl_->template_raw.find(n);
        templates.push_back(Merge(raw != impl_->template_raw.end() ? raw->second : json::object(), std::move(j)));
    }
    out["section_templates"] = std::move(templates);

    if (s.active_layout_name.empty() && s.active_layout_kind.empty()) {
        out["active_layout"] = nullptr;
    } else {
        json a = json::object();
        a["name"] = s.active_layout_name;
        a["kind"] = s.active_layout_kind;
        out["active_layout"] = Merge(impl_->active_raw, std::move(a));
    }
    return Merge(impl_->root, std::move(out)).dump(2) + "\n";
}

void Document::Save(const fs::path& path) {
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    const std::string text = Text(folder);
    try {
        WriteFileAtomically(path, text, "Document");
    } catch (const FileWriteError& e) {
        throw DocumentError(e.what());
    }
    impl_->path = path;
}

}  // namespace crv::standalone
