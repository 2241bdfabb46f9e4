#include "standalone/host/Snapshot.h"

#include <nlohmann/json.hpp>

#include <fstream>
#include <limits>
#include <sstream>

namespace crv::standalone {

namespace {

using json = nlohmann::json;

constexpr const char* kSource = "CRVAnchorTestHost";

Rect RectOf(const json& j) {
    return {j.at(0).get<double>(), j.at(1).get<double>(), j.at(2).get<double>(), j.at(3).get<double>()};
}

double DoubleOf(const json& j) {
    if (!j.is_string()) return j.get<double>();
    const std::string text = j.get<std::string>();
    if (text == "NaN") return std::numeric_limits<double>::quiet_NaN();
    if (text == "Infinity") return std::numeric_limits<double>::infinity();
    if (text == "-Infinity") return -std::numeric_limits<double>::infinity();
    throw std::invalid_argument("a double value is \"" + text + "\"");
}

Variant ValueOf(const json& j) {
    const std::string kind = j.at("kind").get<std::string>();
    if (kind == "empty") return {};
    if (kind == "null") return Variant::Null();
    if (kind == "boolean") return Variant(j.at("value").get<bool>());
    if (kind == "int16") return Variant(j.at("value").get<int16_t>());
    if (kind == "int32") return Variant(j.at("value").get<int32_t>());
    if (kind == "double") return Variant(DoubleOf(j.at("value")));
    if (kind == "string") return Variant(j.at("value").get<std::string>());
    if (kind == "bag") {
        const ComPtr<PropertyBag> bag = MakeCom<PropertyBag, PropertyBagImpl>();
        for (const json& entry : j.at("entries")) bag->SetProperty(entry.at("key").get<std::string>(), ValueOf(entry));
        return Variant(bag);
    }
    throw std::invalid_argument("a value is of the unknown kind \"" + kind + "\"");
}

ElementKind KindOf(const std::string& name) {
    if (const auto kind = ElementKindNamed(name)) return *kind;
    throw std::invalid_argument("an element is of the unknown kind \"" + name + "\"");
}

SeriesData SeriesOf(const json& j) {
    SeriesData s;
    s.name = j.at("name").get<std::string>();
    for (const json& f : j.at("fields"))
        s.fields.push_back({f.at("name").get<std::string>(), f.at("type").get<int32_t>()});
    for (const json& page : j.at("pages")) {
        std::vector<Variant> row;
        for (const json& v : page) row.push_back(ValueOf(v));
        s.features.push_back(std::move(row));
    }
    s.first_page_number = j.at("first_page").get<int32_t>();
    s.current_position = j.at("current_position").get<int32_t>();
    s.enabled = j.at("enabled").get<bool>();
    for (const json& r : j.at("envelopes")) s.envelopes.push_back(RectOf(r));
    return s;
}

ComPtr<LayoutElement> ElementOf(StandaloneHost& host, const json& j) {
    const ComPtr<LayoutElement> e =
        host.Make(KindOf(j.at("kind").get<std::string>()), j.at("name").get<std::string>(), RectOf(j.at("rect")));
    ElementImpl& impl = StandaloneHost::ElementOf(e);
    impl.SetFrameBorder(j.at("border").get<double>());
    impl.text = j.at("text").get<std::string>();
    impl.SetCustomProperty(ValueOf(j.at("custom")));
    if (j.contains("series")) host.AttachSeries(e, SeriesOf(j.at("series")));
    if (j.contains("members")) {
        for (const json& m : j.at("members")) impl.AddMember(ElementOf(host, m));
    }
    return e;
}

}  // namespace

std::unique_ptr<StandaloneHost> HostFromSnapshotText(const std::string& text, const std::string& name,
                                                     const char* source) {
    try {
        const json root = json::parse(text);
        if (root.at("format") != "crvanchor-snapshot" || root.at("version") != 1) {
            throw std::invalid_argument("it is no snapshot of version 1");
        }
        HostOptions options;
        options.page_width = root.at("page").at(0).get<double>();
        options.page_height = root.at("page").at(1).get<double>();
        auto host = std::make_unique<StandaloneHost>(options);
        for (const json& e : root.at("elements")) host->Add(ElementOf(*host, e));
        for (const json& l : root.at("series_layouts")) {
            host->State().series_layouts[l.at("name").get<std::string>()] = ValueOf(l.at("current_page"));
        }
        for (const json& t : root.at("section_templates")) {
            SectionTemplate st;
            st.starting_page = ValueOf(t.at("starting_page"));
            st.current_section = t.at("current_section").get<std::string>();
            for (const json& s : t.at("sections"))
                st.section_pages[s.at("name").get<std::string>()] = ValueOf(s.at("page"));
            host->State().section_templates[t.at("name").get<std::string>()] = std::move(st);
        }
        host->State().active_layout_name = root.at("active_layout").at("name").get<std::string>();
        host->State().active_layout_kind = root.at("active_layout").at("kind").get<std::string>();
        return host;
    } catch (const std::exception& e) {
        Raise(hresult::kFail, source, "The layout snapshot " + name + " does not read: " + e.what());
    }
}

std::unique_ptr<StandaloneHost> HostFromSnapshot(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (!in || !(text << in.rdbuf())) Raise(hresult::kFail, kSource, "The layout snapshot " + path + " cannot be read.");
    return HostFromSnapshotText(text.str(), path, kSource);
}

}  // namespace crv::standalone
