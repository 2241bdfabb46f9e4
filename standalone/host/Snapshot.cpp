#include "standalone/host/Snapshot.h"

#include "com/Regional.h"
#include "standalone/host/ReadLimits.h"
#include "support/MessageText.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <fstream>
#include <sstream>
#include <limits>
#include <stdexcept>
#include <utility>

namespace crv::standalone {

namespace {

using json = nlohmann::json;
using support::PlainOrQuoted;
using support::QuotedValue;

constexpr const char* kSource = "CRVAnchorTestHost";
constexpr int32_t kMaxGivenPages = 1000000;
constexpr int32_t kMaxPrintedPagesPerPage = 1000;

// A snapshot that does not hold what the host needs: where in its tree (a JSON pointer), and why.
struct Refusal {
    std::string pointer;
    std::string message;
};

[[noreturn]] void Refuse(const std::string& pointer, const std::string& message) { throw Refusal{pointer, message}; }

// A value of the snapshot's tree with its place, read as the kind the host needs or refused
// with that place. The snapshot's keys are plain words: they need no escaping in a pointer.
class At {
public:
    At(const json& j, std::string pointer) : j_(j), pointer_(std::move(pointer)) {}

    const std::string& Where() const { return pointer_; }
    bool Has(const char* key) const { return j_.is_object() && j_.contains(key); }
    bool IsString() const { return j_.is_string(); }

    At operator[](const char* key) const {
        if (!j_.is_object()) Refuse(pointer_, std::string("expected an object, found ") + FoundKind(j_));
        const auto it = j_.find(key);
        if (it == j_.end()) Refuse(pointer_, std::string("missing \"") + key + "\"");
        return At(*it, pointer_ + "/" + key);
    }
    size_t Size() const {
        if (!j_.is_array()) Refuse(pointer_, std::string("expected an array, found ") + FoundKind(j_));
        return j_.size();
    }
    At Item(size_t i) const { return At(j_.at(i), pointer_ + "/" + std::to_string(i)); }

    std::string String() const {
        if (!j_.is_string()) Refuse(pointer_, std::string("expected a string, found ") + FoundKind(j_));
        return j_.get<std::string>();
    }
    bool Boolean() const {
        if (!j_.is_boolean()) Refuse(pointer_, std::string("expected true or false, found ") + FoundKind(j_));
        return j_.get<bool>();
    }
    double Number() const {
        if (!j_.is_number()) Refuse(pointer_, std::string("expected a number, found ") + FoundKind(j_));
        return j_.get<double>();
    }
    // What the host keeps in fewer bits is refused, not cut to fit.
    template <class Int>
    Int Whole() const {
        const int64_t lo = std::numeric_limits<Int>::min();
        const int64_t hi = std::numeric_limits<Int>::max();
        const std::string expected = WholeNumberExpected(lo, hi) + ", found ";
        if (j_.is_number_unsigned()) {
            const uint64_t u = j_.get<uint64_t>();
            if (u > static_cast<uint64_t>(hi)) Refuse(pointer_, expected + std::to_string(u));
            return static_cast<Int>(u);
        }
        if (!j_.is_number_integer()) Refuse(pointer_, expected + FoundKind(j_));
        const int64_t v = j_.get<int64_t>();
        if (v < lo || v > hi) Refuse(pointer_, expected + std::to_string(v));
        return static_cast<Int>(v);
    }

private:
    const json& j_;
    std::string pointer_;
};

Rect RectOf(const At& a) {
    if (a.Size() != 4) Refuse(a.Where(), "expected an array of four numbers [xmin, ymin, xmax, ymax]");
    const Rect r{a.Item(0).Number(), a.Item(1).Number(), a.Item(2).Number(), a.Item(3).Number()};
    // As a map document refuses it: a host's rectangle is never inside out.
    if (r.xmin > r.xmax || r.ymin > r.ymax) Refuse(a.Where(), "expected xmin <= xmax and ymin <= ymax");
    return r;
}

// A double as the snapshot's writer tags it: a number, or the name of one JSON has none for.
double DoubleOf(const At& a) {
    if (!a.IsString()) return a.Number();
    const std::string text = a.String();
    if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (text == "Infinity") return std::numeric_limits<double>::infinity();
    if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
    Refuse(a.Where(), DoubleExpected());
}

// `depth`: the property bags this value is an entry of.
Variant ValueOf(const At& v, int depth) {
    if (depth > kMaxBagNesting) Refuse(v.Where(), BagsTooDeep());
    const std::string kind = v["kind"].String();
    if (kind == "empty") return {};
    if (kind == "null") return Variant::Null();
    if (kind == "boolean") return Variant(v["value"].Boolean());
    if (kind == "int16") return Variant(v["value"].Whole<int16_t>());
    if (kind == "int32") return Variant(v["value"].Whole<int32_t>());
    if (kind == "double") return Variant(DoubleOf(v["value"]));
    if (kind == "string") return Variant(v["value"].String());
    if (kind == "bag") {
        const ComPtr<PropertyBag> bag = MakeCom<PropertyBag, PropertyBagImpl>();
        const At entries = v["entries"];
        for (size_t i = 0; i < entries.Size(); ++i) {
            const At entry = entries.Item(i);
            bag->SetProperty(entry["key"].String(), ValueOf(entry, depth + 1));
        }
        return Variant(bag);
    }
    Refuse(v["kind"].Where(), ValueKindExpected() + QuotedValue(kind));
}

ElementKind ElementKindOf(const At& a) {
    const std::string name = a.String();
    if (const auto kind = ElementKindNamed(name)) return *kind;
    Refuse(a.Where(), "an element of the unknown kind " + QuotedValue(name));
}

std::vector<Variant> RowOf(const At& values) {
    std::vector<Variant> row;
    for (size_t i = 0; i < values.Size(); ++i) row.push_back(ValueOf(values.Item(i), 0));
    return row;
}

SeriesData SeriesOf(const At& j) {
    SeriesData s;
    s.name = j["name"].String();
    if (j.Has("called")) s.called = j["called"].String();
    const At fields = j["fields"];
    for (size_t i = 0; i < fields.Size(); ++i) {
        const At f = fields.Item(i);
        s.fields.push_back({f["name"].String(), f["type"].Whole<int32_t>()});
    }
    // Every page's feature, or how many pages there are, their features given page by page.
    if (j.Has("page_count")) {
        if (j.Has("pages")) Refuse(j.Where(), "give \"pages\" or \"page_count\", not both");
        const int32_t count = j["page_count"].Whole<int32_t>();
        // Each page costs a few bytes before its feature is given: a count past any book is refused.
        if (count < 0 || count > kMaxGivenPages) {
            Refuse(j["page_count"].Where(), "expected a page count from 0 to " + std::to_string(kMaxGivenPages));
        }
        s.rows = std::make_shared<GivenRows>(static_cast<size_t>(count));
    } else {
        const At pages = j["pages"];
        for (size_t p = 0; p < pages.Size(); ++p) s.features.push_back(RowOf(pages.Item(p)));
    }
    s.first_page_number = j["first_page"].Whole<int32_t>();
    s.current_position = j["current_position"].Whole<int32_t>();
    s.enabled = j["enabled"].Boolean();
    const At envelopes = j["envelopes"];
    for (size_t i = 0; i < envelopes.Size(); ++i) s.envelopes.push_back(RectOf(envelopes.Item(i)));
    return s;
}

// `depth`: the groups this element is a member of.
// An outline's corners: three at least, each two finite numbers.
std::vector<std::pair<double, double>> OutlineOf(const At& a) {
    if (a.Size() < 3) Refuse(a.Where(), "expected an array of three corners or more, each [x, y]");
    std::vector<std::pair<double, double>> corners;
    for (size_t i = 0; i < a.Size(); ++i) {
        const At corner = a.Item(i);
        if (corner.Size() != 2) Refuse(corner.Where(), "expected a corner [x, y]");
        const double x = corner.Item(0).Number();
        const double y = corner.Item(1).Number();
        if (!std::isfinite(x) || !std::isfinite(y)) Refuse(corner.Where(), "expected finite numbers");
        corners.emplace_back(x, y);
    }
    return corners;
}

ComPtr<LayoutElement> ElementOf(StandaloneHost& host, const At& j, int depth) {
    // An element that is not a rectangle gives its outline instead of its rectangle.
    const bool outlined = j.Has("outline");
    if (outlined && j.Has("rect")) Refuse(j.Where(), "give \"rect\" or \"outline\", not both");
    const ComPtr<LayoutElement> e =
        host.Make(ElementKindOf(j["kind"]), j["name"].String(), outlined ? Rect{} : RectOf(j["rect"]));
    ElementImpl& impl = StandaloneHost::ElementOf(e);
    if (outlined) {
        if (impl.IsGroup()) Refuse(j["outline"].Where(), "a group's outline is its members'");
        impl.SetOutline(OutlineOf(j["outline"]));
    }
    if (j.Has("layout_page")) {
        impl.layout_page = j["layout_page"].Whole<int32_t>();
        if (impl.layout_page < 0) Refuse(j["layout_page"].Where(), "expected 0 or more, the layout's first page being 0");
    }
    if (j.Has("held")) impl.held = j["held"].String();
    if (j.Has("page_size")) {
        const At size = j["page_size"];
        if (size.Size() != 2) Refuse(size.Where(), "expected an array of two numbers [width, height]");
        impl.page_size = std::pair{size.Item(0).Number(), size.Item(1).Number()};
    }
    impl.SetFrameBorder(j["border"].Number());
    impl.text = j["text"].String();
    impl.SetCustomProperty(ValueOf(j["custom"], 0));
    if (j.Has("series")) host.AttachSeries(e, SeriesOf(j["series"]));
    if (impl.IsGroup()) {
        if (depth >= kMaxGroupNesting) Refuse(j.Where(), GroupsTooDeep());
        const At members = j["members"];
        for (size_t i = 0; i < members.Size(); ++i) impl.AddMember(ElementOf(host, members.Item(i), depth + 1));
    } else if (j.Has("members")) {
        Refuse(j["members"].Where(), "only a group has members");
    }
    return e;
}

// How many pages of the layout each page of the book prints; a section template numbers its own.
// Whether the printed pages fit 32 bits is the surface's to say (PrintedPagesRefusal).
void PrintedPagesOf(const At& at, HostState& state) {
    const double n = at.Number();
    if (!(n >= 1 && n <= kMaxPrintedPagesPerPage && n == std::floor(n))) {
        Refuse(at.Where(), "expected a whole number from 1 to " + std::to_string(kMaxPrintedPagesPerPage) +
                               ", found " + FormatGeneral(n, RegionalSettings::Invariant()));
    }
    const auto count = static_cast<int32_t>(n);
    if (count > 1 && state.active_layout_kind == ActiveLayoutInfo::kSectionTemplate)
        Refuse(at.Where(), "a section template numbers its own pages");
    state.printed_pages_per_page = count;
}

std::unique_ptr<StandaloneHost> HostOf(const At& root) {
    if (const std::string format = root["format"].String(); format != "crvanchor-snapshot")
        Refuse("/format", "expected \"crvanchor-snapshot\", found " + QuotedValue(format));
    if (const int32_t version = root["version"].Whole<int32_t>(); version != 1)
        Refuse("/version", "expected version 1, found " + std::to_string(version));
    HostOptions options;
    const At page = root["page"];
    if (page.Size() != 2) Refuse(page.Where(), "expected an array of two numbers [width, height]");
    options.page_width = page.Item(0).Number();
    options.page_height = page.Item(1).Number();
    auto host = std::make_unique<StandaloneHost>(options);
    const At elements = root["elements"];
    for (size_t i = 0; i < elements.Size(); ++i) host->Add(ElementOf(*host, elements.Item(i), 0));
    const At layouts = root["series_layouts"];
    for (size_t i = 0; i < layouts.Size(); ++i) {
        const At l = layouts.Item(i);
        host->State().series_layouts[l["name"].String()] = ValueOf(l["current_page"], 0);
    }
    const At templates = root["section_templates"];
    for (size_t i = 0; i < templates.Size(); ++i) {
        const At t = templates.Item(i);
        SectionTemplate st;
        st.starting_page = ValueOf(t["starting_page"], 0);
        st.current_section = t["current_section"].String();
        const At sections = t["sections"];
        for (size_t k = 0; k < sections.Size(); ++k) {
            const At section = sections.Item(k);
            st.section_pages[section["name"].String()] = ValueOf(section["page"], 0);
        }
        host->State().section_templates[t["name"].String()] = std::move(st);
    }
    host->State().active_layout_name = root["active_layout"]["name"].String();
    host->State().active_layout_kind = root["active_layout"]["kind"].String();
    if (root.Has("printed_pages_per_page")) PrintedPagesOf(root["printed_pages_per_page"], host->State());
    return host;
}

[[noreturn]] void Unreadable(const char* source, const std::string& shown, const std::string& why) {
    Raise(hresult::kInvalidData, source, shown + " does not read: " + why);
}

// The parser's message without its "[json.exception.parse_error.101] " prefix, cut: the text
// it last read is the file's, and may hold anything.
std::string ParseMessage(const std::string& what) {
    const size_t at = what.find("] ");
    return PlainOrQuoted(at == std::string::npos ? what : what.substr(at + 2));
}

}  // namespace

std::unique_ptr<StandaloneHost> HostFromSnapshotText(const std::string& text, const std::string& name,
                                                     const char* source, std::string* units) {
    const std::string shown = "The layout snapshot " + name;
    json tree;
    try {
        tree = json::parse(text);
    } catch (const json::exception& e) {
        Unreadable(source, shown, ParseMessage(e.what()));
    }
    try {
        const At root(tree, "");
        auto host = HostOf(root);
        if (units != nullptr) *units = root.Has("units") ? root["units"].String() : "inches";
        return host;
    } catch (const Refusal& r) {
        Unreadable(source, shown, (r.pointer.empty() ? "/" : r.pointer) + ": " + r.message);
    }
}

const std::vector<Variant>& GivenRows::GivenRow(size_t index) const {
    if (!Given(index)) {
        Raise(kAnchorErrorNumber, "MapSeries.Row",
              "The feature of the series' page " + std::to_string(index + 1) + " was not given.");
    }
    return last_->second;
}

std::vector<Variant> GivenRows::Row(size_t index) { return GivenRow(index); }

std::optional<Variant> GivenRows::Value(size_t index, size_t field) {
    const std::vector<Variant>& row = GivenRow(index);
    if (field >= row.size()) return std::nullopt;
    return row[field];
}

void GivenRows::Give(size_t index, std::vector<Variant> row) {
    if (index >= count_) throw std::out_of_range("GivenRows::Give: page past the series");
    last_.emplace(index, std::move(row));
}

namespace {

// A tagged text read by `read` from its root, refused as a snapshot is.
template <class Read>
auto ReadTagged(const std::string& text, const std::string& name, const char* source, Read&& read) {
    json tree;
    try {
        tree = json::parse(text);
    } catch (const json::exception& e) {
        Unreadable(source, name, ParseMessage(e.what()));
    }
    try {
        return read(At(tree, ""));
    } catch (const Refusal& r) {
        Unreadable(source, name, (r.pointer.empty() ? "/" : r.pointer) + ": " + r.message);
    }
}

}  // namespace

std::vector<Variant> TaggedRowFromText(const std::string& text, const std::string& name, const char* source) {
    return ReadTagged(text, name, source, [](const At& root) { return RowOf(root); });
}

Variant TaggedValueFromText(const std::string& text, const std::string& name, const char* source) {
    return ReadTagged(text, name, source, [](const At& root) { return ValueOf(root, 0); });
}

std::unique_ptr<StandaloneHost> HostFromSnapshot(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) {
        Raise(hresult::kOpenFailed, kSource, "The layout snapshot " + path + " cannot be read.");
    }
    return HostFromSnapshotText(text.str(), path, kSource);
}

}  // namespace crv::standalone
