// Reading a map document: the file, the parse, the checks of what it holds, and the host state
// built from it before the host sees any of it.
#include "standalone/document/DocumentInternal.h"

#include "standalone/document/JsonPositions.h"
#include "standalone/document/SeriesSource.h"
#include "support/Errors.h"
#include "support/MessageText.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string_view>

namespace crv::standalone {

using namespace document_internal;

namespace {

std::string RawText(const json::binary_t& b) { return std::string(b.begin(), b.end()); }

// A number's text in a message: numbers hold no unsafe characters, but may be long.
std::string NumberShown(const std::string& text) {
    if (text.size() <= 40) return text;
    return text.substr(0, 40) + "... (" + std::to_string(text.size()) + " bytes)";
}

const char* JsonKind(const json& j) {
    if (RawNumber(j) != nullptr) return "a number";
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
    // The nearest double, as the parser would have read it (finite: the parser refuses others).
    if (const auto* raw = RawNumber(j)) return json::parse(RawText(*raw)).get<double>();
    if (!j.is_number()) Fail(ptr, std::string("expected a number, found ") + JsonKind(j));
    return j.get<double>();
}

int64_t WholeNumber(const json& j, const std::string& ptr, int64_t lo, int64_t hi) {
    const std::string range = "expected a whole number from " + std::to_string(lo) + " to " + std::to_string(hi);
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

const std::map<std::string, ElementKind>& GroupKinds() {
    static const std::map<std::string, ElementKind> kinds = {{"walk", ElementKind::Group},
                                                             {"index", ElementKind::IndexedGroup},
                                                             {"both", ElementKind::SequenceAndIndexedGroup}};
    return kinds;
}

const std::set<std::string>& UnitNames() {
    static const std::set<std::string> units = {"inches", "centimeters", "millimeters", "points"};
    return units;
}

// ------------------------------------------------------------------ values

struct Reader {
    StandaloneHost& host;
    fs::path folder;
    Document::Impl& next;
    std::map<std::string, std::string> names;  // element name -> where it first stands

    Variant Value(const json& j, const std::string& ptr, int depth) {
        ExpectObject(j, ptr);
        if (depth > kMaxBagNesting) Fail(ptr, "property bags nested too deeply");
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
                Fail(vptr, "expected a number, \"NaN\", \"Infinity\" or \"-Infinity\"");
            }
            return Variant(Number(v, vptr));
        }
        if (kind == "string") return Variant(String(value(), vptr));
        if (kind == "bag") return Variant(Bag(j, ptr, depth));
        Fail(Child(ptr, "kind"),
             "expected one of \"empty\", \"null\", \"boolean\", \"int16\", \"int32\", "
             "\"double\", \"string\", \"bag\"; found " +
                 QuotedValue(kind));
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
        // Elements are found by name: a second of the same name could never be.
        if (!name.empty() && !names.emplace(name, ptr).second) {
            Fail(Child(ptr, "name"), "another element is named " + QuotedValue(name) + " (" + names[name] + ")");
        }
        Document::Impl::ElementInfo info;
        info.raw = j;
        ComPtr<LayoutElement> e;
        if (type == "text" || type == "picture") {
            const Rect r = ReadRect(Required(j, "rect", ptr), Child(ptr, "rect"), next.units);
            e = host.Make(type == "text" ? ElementKind::Text : ElementKind::Picture, name, r);
            if (type == "text") {
                if (const json* t = Optional(j, "text")) StandaloneHost::Impl(e).text = String(*t, Child(ptr, "text"));
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
                StandaloneHost::Impl(e).SetFrameBorder(border);
            }
            if (const json* l = Optional(j, "label_field"))
                info.style.label_field = String(*l, Child(ptr, "label_field"));
            if (const json* s = Optional(j, "series")) Series(*s, Child(ptr, "series"), e, info);
        } else if (type == "group") {
            if (depth >= kMaxGroupNesting) {
                Fail(ptr, "groups nested more than " + std::to_string(kMaxGroupNesting) + " deep");
            }
            ElementKind kind = ElementKind::Group;
            if (const json* m = Optional(j, "members_by")) {
                const std::string by = String(*m, Child(ptr, "members_by"));
                auto it = GroupKinds().find(by);
                if (it == GroupKinds().end()) {
                    Fail(Child(ptr, "members_by"),
                         "expected \"walk\", \"index\" or \"both\", found " + QuotedValue(by));
                }
                kind = it->second;
            }
            e = host.Make(kind, name, {});
            const std::string mptr = Child(ptr, "members");
            const json& members = Required(j, "members", ptr);
            if (!members.is_array()) Fail(mptr, std::string("expected an array, found ") + JsonKind(members));
            for (size_t i = 0; i < members.size(); ++i) {
                StandaloneHost::Impl(e).AddMember(Element(members[i], Child(mptr, i), depth + 1));
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
        StandaloneHost::Impl(frame).series = std::make_shared<SeriesData>(std::move(data));
        info.series = origin;
        info.series_raw = j;
    }
};

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
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))
        fail(std::string(FileKind(st.st_mode)) + ", not a document file");
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

// The parse error's own text after its "line L, column C: " prefix, with the text it last read
// quoted and cut: that is the document's, and may hold anything.
std::string ParseMessage(const std::string& what) {
    std::string message = what;
    const std::string marker = "column ";
    size_t at = what.find(marker);
    if (at != std::string::npos) at = what.find(": ", at);
    if (at != std::string::npos) {
        message = what.substr(at + 2);
    } else if (at = what.find("] "); at != std::string::npos) {
        message = what.substr(at + 2);
    }
    const std::string lastRead = "; last read: '";
    const size_t read = message.find(lastRead);
    if (read == std::string::npos) return message;
    const size_t from = read + lastRead.size();
    size_t to = message.rfind("'; expected ");
    if (to == std::string::npos || to < from) to = message.size() - (message.back() == '\'' ? 1 : 0);
    const std::string rest = to < message.size() ? message.substr(to + 1) : std::string();
    return message.substr(0, read) + "; last read: " + QuotedValue(message.substr(from, to - from)) + rest;
}

// Sign, significant digits and exponent of a JSON number's text, so that texts that name the
// same number ("1.50", "15e-1", "1.5") compare equal.
struct Decimal {
    bool negative = false;
    std::string digits;  // no leading or trailing zeros; empty for zero
    int64_t exponent = 0;
    bool operator==(const Decimal&) const = default;
};

Decimal DecimalOf(std::string_view s) {
    Decimal d;
    size_t i = 0;
    if (i < s.size() && s[i] == '-') {
        d.negative = true;
        ++i;
    }
    bool fraction = false;
    for (; i < s.size() && s[i] != 'e' && s[i] != 'E'; ++i) {
        if (s[i] == '.') {
            fraction = true;
            continue;
        }
        d.digits += s[i];
        if (fraction) --d.exponent;
    }
    if (i < s.size()) {
        ++i;
        bool minus = false;
        if (i < s.size() && (s[i] == '+' || s[i] == '-')) minus = s[i++] == '-';
        int64_t e = 0;
        for (; i < s.size(); ++i) e = std::min<int64_t>(e * 10 + (s[i] - '0'), int64_t{1} << 40);
        d.exponent += minus ? -e : e;
    }
    const size_t first = d.digits.find_first_not_of('0');
    if (first == std::string::npos) return {d.negative, {}, 0};
    d.digits.erase(0, first);
    while (d.digits.back() == '0') {
        d.digits.pop_back();
        ++d.exponent;
    }
    return d;
}

// Builds the document's tree as the parser reads it. A number that a double cannot hold as
// written stays its text, so that a member this version does not use goes back out unchanged.
class DomBuilder {
public:
    explicit DomBuilder(json& root) : dom_(root) {}

    bool null() { return dom_.null(); }
    bool boolean(bool v) { return dom_.boolean(v); }
    bool number_integer(json::number_integer_t v) { return dom_.number_integer(v); }
    bool number_unsigned(json::number_unsigned_t v) { return dom_.number_unsigned(v); }
    bool number_float(json::number_float_t v, const std::string& text) {
        if (DecimalOf(text) == DecimalOf(json(v).dump())) return dom_.number_float(v, text);
        json::binary_t raw(std::vector<std::uint8_t>(text.begin(), text.end()), kRawNumber);
        return dom_.binary(raw);
    }
    bool string(std::string& v) { return dom_.string(v); }
    bool binary(json::binary_t& v) { return dom_.binary(v); }
    bool start_object(size_t n) { return dom_.start_object(n); }
    bool key(std::string& k) { return dom_.key(k); }
    bool end_object() { return dom_.end_object(); }
    bool start_array(size_t n) { return dom_.start_array(n); }
    bool end_array() { return dom_.end_array(); }
    template <class Exception>
    bool parse_error(size_t position, const std::string& token, const Exception& e) {
        error_at = position;
        error_token = token;
        return dom_.parse_error(position, token, e);
    }

    size_t error_at = 0;  // bytes read when the parser gave up
    std::string error_token;

private:
    nlohmann::detail::json_sax_dom_parser<json> dom_;
};

}  // namespace

void Document::Load(const fs::path& path) { LoadText(ReadFile(path), path); }

void Document::LoadForUpdate(const fs::path& path) {
    std::unique_ptr<FileLock> lock;
    try {
        lock = std::make_unique<FileLock>(path, FileName(path));
    } catch (const FileWriteError& e) {
        throw DocumentError(e.what());
    }
    Load(path);
    impl_->lock = std::move(lock);
}

void Document::LoadText(const std::string& text, const fs::path& path) {
    const std::string name = FileName(path);
    if (text.size() > kMaxDocumentBytes) {
        throw DocumentError(name + ": " + TooLarge());
    }
    const auto located = [&](size_t offset, const std::string& message) {
        const auto [line, column] = LineColumnAt(text, offset);
        return DocumentError(name + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message);
    };
    const JsonTextShape shape = LookOverJson(text, kMaxJsonNesting);
    if (shape.too_deep) {
        throw located(*shape.too_deep,
                      "arrays and objects nested more than " + std::to_string(kMaxJsonNesting) + " deep");
    }
    json root;
    DomBuilder builder(root);
    try {
        json::sax_parse(text, &builder);
    } catch (const json::out_of_range&) {
        // A number beyond the range of a double; the parser stopped right after it.
        const size_t at = builder.error_at - std::min(builder.error_at, builder.error_token.size());
        throw located(at, "number out of range: " + NumberShown(builder.error_token));
    } catch (const json::exception& e) {
        throw located(builder.error_at > 0 ? builder.error_at - 1 : 0, ParseMessage(e.what()));
    }
    if (shape.repeated)
        throw located(*shape.repeated, "duplicate key " + QuotedValue(shape.repeated_key) + " in an object");

    auto next = std::make_unique<Impl>();
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
                if (const json* c = Optional(t, "current_section"))
                    st.current_section = String(*c, Child(p, "current_section"));
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
    impl_ = std::move(next);
}

}  // namespace crv::standalone
