// crvanchor-book --document NAME --units UNITS OUT.json: the map book of the layout the
// registered host application holds, made through the platform's COM alone, as a script of the
// platform would: the application and the component created by their programmatic identifiers,
// every call through the interfaces the type library declares. The pages are stepped as the
// book driver steps them (book/BookDriver.cpp): the map series' page put in force, the anchored
// elements placed in the driver's order, every element measured; the report has the form of
// the driver's (book/BookReport.cpp). What COM does not tell apart, a text from a picture, is
// reported as "element".
#include <windows.h>
#include <initguid.h>
#include <oleauto.h>

#include "CRVAnchorCom.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using json = nlohmann::ordered_json;

// ------------------------------------------------------------------ COM plumbing

// A failed call, with what its object said about it.
[[noreturn]] void Fail(HRESULT hr, const std::string& call) {
    std::string text;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
        BSTR description = nullptr;
        if (SUCCEEDED(info->GetDescription(&description)) && description != nullptr) {
            const int n = WideCharToMultiByte(CP_UTF8, 0, description, -1, nullptr, 0, nullptr, nullptr);
            text.resize(n > 0 ? static_cast<size_t>(n - 1) : 0);
            WideCharToMultiByte(CP_UTF8, 0, description, -1, text.data(), n, nullptr, nullptr);
            SysFreeString(description);
        }
        info->Release();
    }
    char code[16];
    std::snprintf(code, sizeof code, "0x%08lX", static_cast<unsigned long>(hr));
    throw std::runtime_error(call + " failed (" + code + ")" + (text.empty() ? "" : ": " + text));
}

void Check(HRESULT hr, const char* call) {
    if (FAILED(hr)) Fail(hr, call);
}

// A counted interface pointer.
template <class I>
class Ref {
public:
    Ref() = default;
    Ref(const Ref& o) : p_(o.p_) {
        if (p_) p_->AddRef();
    }
    Ref& operator=(Ref o) {
        std::swap(p_, o.p_);
        return *this;
    }
    ~Ref() {
        if (p_) p_->Release();
    }
    I* operator->() const { return p_; }
    I* Get() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }
    // For a call that hands out a counted pointer.
    I** Out() {
        *this = Ref();
        return &p_;
    }
    template <class J>
    Ref<J> Query() const {
        Ref<J> j;
        if (p_) p_->QueryInterface(__uuidof(J), reinterpret_cast<void**>(j.Out()));
        return j;
    }

private:
    I* p_ = nullptr;
};

class Bstr {
public:
    explicit Bstr(const std::string& text) {
        const int n = MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, nullptr, 0);
        std::wstring wide(n > 0 ? static_cast<size_t>(n - 1) : 0, L'\0');
        MultiByteToWideChar(CP_UTF8, 0, text.c_str(), -1, wide.data(), n);
        s_ = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    }
    ~Bstr() { SysFreeString(s_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR Get() const { return s_; }

private:
    BSTR s_;
};

std::string Take(BSTR s) {
    std::string text;
    if (s != nullptr) {
        const int n =
            WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(SysStringLen(s)), nullptr, 0, nullptr, nullptr);
        text.resize(static_cast<size_t>(n));
        WideCharToMultiByte(CP_UTF8, 0, s, static_cast<int>(SysStringLen(s)), text.data(), n, nullptr, nullptr);
        SysFreeString(s);
    }
    return text;
}

class Value {
public:
    Value() { VariantInit(&v_); }
    ~Value() { VariantClear(&v_); }
    Value(const Value&) = delete;
    Value& operator=(const Value&) = delete;
    VARIANT* Out() {
        VariantClear(&v_);
        return &v_;
    }
    LONG Long() const {
        VARIANT l;
        VariantInit(&l);
        Check(VariantChangeType(&l, const_cast<VARIANT*>(&v_), 0, VT_I4), "VariantChangeType");
        return l.lVal;
    }
    std::string String() const {
        VARIANT s;
        VariantInit(&s);
        if (FAILED(VariantChangeType(&s, const_cast<VARIANT*>(&v_), 0, VT_BSTR))) return {};
        return Take(s.bstrVal);
    }
    template <class I>
    Ref<I> Object() const {
        Ref<I> p;
        if ((v_.vt == VT_UNKNOWN || v_.vt == VT_DISPATCH) && v_.punkVal != nullptr) {
            v_.punkVal->QueryInterface(__uuidof(I), reinterpret_cast<void**>(p.Out()));
        }
        return p;
    }

private:
    VARIANT v_;
};

template <class I>
Ref<I> Create(const wchar_t* progid) {
    CLSID clsid;
    Check(CLSIDFromProgID(progid, &clsid), "CLSIDFromProgID");
    Ref<I> p;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(I), reinterpret_cast<void**>(p.Out())),
          "CoCreateInstance");
    return p;
}

// ------------------------------------------------------------------ the layout

struct Element {
    Ref<ICrvLayoutElement> element;
    std::string name;
    std::string group;  // the enclosing groups, outermost first, joined by " / "
    std::optional<size_t> parent;  // the group that holds it, by place in the walk
};

std::string NameOf(const Ref<ICrvLayoutElement>& e) {
    BSTR name = nullptr;
    Check(e->Name(&name), "LayoutElement.Name");
    return Take(name);
}

// Every element, each group followed by its members, depth first: the driver's walk.
void WalkMembers(const Ref<ICrvLayoutElement>& e, const std::string& group, std::optional<size_t> parent,
                 std::vector<Element>& out) {
    const std::string name = NameOf(e);
    const size_t place = out.size();
    out.push_back({e, name, group, parent});
    const auto sequence = e.Query<ICrvElementSequence>();
    const auto indexed = sequence ? Ref<ICrvElementGroup>() : e.Query<ICrvElementGroup>();
    const std::string inner = group.empty() ? name : group + " / " + name;
    if (sequence) {
        Check(sequence->ResetMembers(), "ElementSequence.ResetMembers");
        for (;;) {
            Ref<ICrvLayoutElement> m;
            Check(sequence->NextMember(m.Out()), "ElementSequence.NextMember");
            if (!m) break;
            WalkMembers(m, inner, place, out);
        }
    } else if (indexed) {
        LONG n = 0;
        Check(indexed->MemberCount(&n), "ElementGroup.MemberCount");
        for (LONG i = 0; i < n; ++i) {
            Ref<ICrvLayoutElement> m;
            Check(indexed->Member(i, m.Out()), "ElementGroup.Member");
            WalkMembers(m, inner, place, out);
        }
    }
}

std::vector<Element> Walk(const Ref<ICrvElementContainer>& layout) {
    std::vector<Element> out;
    Check(layout->Reset(), "ElementContainer.Reset");
    for (;;) {
        Ref<ICrvLayoutElement> e;
        Check(layout->Next(e.Out()), "ElementContainer.Next");
        if (!e) break;
        WalkMembers(e, "", std::nullopt, out);
    }
    return out;
}

bool Holds(const std::vector<Element>& walk, size_t outer, size_t inner) {
    for (std::optional<size_t> at = inner; at; at = walk[*at].parent) {
        if (*at == outer) return true;
    }
    return false;
}

// The name of the element an element is anchored to, from its record; empty for the page.
std::string TargetName(const Ref<ICrvLayoutElement>& e) {
    Value custom;
    Check(e->CustomProperty(custom.Out()), "LayoutElement.CustomProperty");
    Ref<ICrvPropertyBag> bag = custom.Object<ICrvPropertyBag>();
    for (const char* key : {"CorvaneProperties", "AnchorProperties"}) {
        if (!bag) return {};
        Value inner;
        const Bstr name(key);
        Check(bag->GetProperty(name.Get(), inner.Out()), "PropertyBag.GetProperty");
        bag = inner.Object<ICrvPropertyBag>();
    }
    if (!bag) return {};
    Value type, target;
    const Bstr typeKey("AnchorType"), targetKey("ElementName");
    Check(bag->GetProperty(typeKey.Get(), type.Out()), "PropertyBag.GetProperty");
    if (type.String() != "NamedElement") return {};
    Check(bag->GetProperty(targetKey.Get(), target.Out()), "PropertyBag.GetProperty");
    const std::string name = target.String();
    return name == "<None>" ? std::string() : name;
}

// ------------------------------------------------------------------ the selection

struct Selected {
    size_t place;  // in the walk
    Ref<_CRVAnchorManager> manager;
    short priority;
};

int PriorityRank(short code) {
    switch (code) {
        case 2: return 0;  // HIGH
        case 1: return 1;  // MEDIUM
        case 0: return 2;  // LOW
        default: return 3;
    }
}

// The anchored elements as the driver selects them: every element the engine anchors, HIGH
// first, then MEDIUM, LOW and other codes, in walk order within a priority; then each placed
// after what moves its target (the target, a group holding it, a member of it) and after the
// groups that hold it. Elements in a cycle are left out.
std::vector<Selected> Select(const std::vector<Element>& walk) {
    std::vector<Selected> candidates;
    for (size_t i = 0; i < walk.size(); ++i) {
        auto manager = Create<_CRVAnchorManager>(L"CRVAnchor.CRVAnchorManager");
        VARIANT_BOOL anchored = VARIANT_FALSE;
        Check(manager->IsAnchorElement(walk[i].element.Get(), &anchored), "CRVAnchorManager.IsAnchorElement");
        if (anchored == VARIANT_FALSE) continue;
        short priority = 0;
        Check(manager->AnchorPriority(walk[i].element.Get(), &priority), "CRVAnchorManager.AnchorPriority");
        candidates.push_back({i, manager, priority});
    }
    std::stable_sort(candidates.begin(), candidates.end(), [](const Selected& a, const Selected& b) {
        return PriorityRank(a.priority) < PriorityRank(b.priority);
    });
    std::vector<Selected> selected;
    for (auto& c : candidates) {
        VARIANT_BOOL can = VARIANT_FALSE;
        Check(c.manager->CanAnchor(walk[c.place].element.Get(), &can), "CRVAnchorManager.CanAnchor");
        if (can == VARIANT_FALSE) continue;
        Check(c.manager->SetAnchorElement(walk[c.place].element.Get()), "CRVAnchorManager.SetAnchorElement");
        selected.push_back(c);
    }
    // The first element of each name in the walk; the engine looks at a group's direct members
    // before deeper ones, so a name repeated in nested groups may be found elsewhere by it.
    auto placeOf = [&](const std::string& name) -> std::optional<size_t> {
        for (size_t i = 0; i < walk.size(); ++i) {
            if (walk[i].name == name) return i;
        }
        return std::nullopt;
    };
    const size_t n = selected.size();
    std::vector<std::vector<size_t>> depends(n);
    for (size_t i = 0; i < n; ++i) {
        const size_t at = selected[i].place;
        const std::optional<size_t> target = placeOf(TargetName(walk[at].element));
        for (size_t j = 0; j < n; ++j) {
            const size_t other = selected[j].place;
            const bool movesTarget = target && (Holds(walk, other, *target) || Holds(walk, *target, other));
            const bool carries = other != at && Holds(walk, other, at);
            if (movesTarget || carries) depends[i].push_back(j);
        }
    }
    // An element in a cycle is left out; one that only depends on it is placed against it
    // where it stands.
    std::vector<bool> inCycle(n, false);
    for (size_t i = 0; i < n; ++i) {
        std::vector<bool> seen(n, false);
        std::vector<size_t> open = depends[i];
        while (!open.empty() && !inCycle[i]) {
            const size_t j = open.back();
            open.pop_back();
            if (j == i) inCycle[i] = true;
            if (seen[j]) continue;
            seen[j] = true;
            open.insert(open.end(), depends[j].begin(), depends[j].end());
        }
    }
    for (auto& d : depends) std::erase_if(d, [&](size_t j) { return inCycle[j]; });
    std::vector<Selected> ordered;
    std::vector<bool> placed(inCycle);
    for (bool progress = true; progress;) {
        progress = false;
        for (size_t i = 0; i < n; ++i) {
            if (placed[i]) continue;
            if (!std::all_of(depends[i].begin(), depends[i].end(), [&](size_t j) { return placed[j]; })) continue;
            placed[i] = true;
            ordered.push_back(selected[i]);
            progress = true;
            break;
        }
    }
    for (size_t i = 0; i < n; ++i) {
        if (inCycle[i]) Check(selected[i].manager->Reset(), "CRVAnchorManager.Reset");
    }
    return ordered;
}

// ------------------------------------------------------------------ the book

struct Series {
    Ref<ICrvMapSeriesFrame> companion;
    std::string frame;
    LONG first = 1;
    LONG count = 0;
};

// The map series of the first map frame that has one switched on, as the driver finds it.
std::optional<Series> FindSeries(const std::vector<Element>& walk) {
    for (const Element& e : walk) {
        const auto frame = e.element.Query<ICrvMapFrame>();
        if (!frame) continue;
        auto companion = Create<ICrvMapSeriesFrame>(L"CRVAnchorTestHost.MapSeriesFrame");
        VARIANT_BOOL has = VARIANT_FALSE, enabled = VARIANT_FALSE;
        Check(companion->HasSeries(frame.Get(), &has), "MapSeriesFrame.HasSeries");
        if (has == VARIANT_FALSE) continue;
        Check(companion->IsSeriesEnabled(frame.Get(), &enabled), "MapSeriesFrame.IsSeriesEnabled");
        if (enabled == VARIANT_FALSE) continue;
        Check(companion->Bind(frame.Get()), "MapSeriesFrame.Bind");
        Value first, count;
        Check(companion->FirstPageNumber(first.Out()), "MapSeriesFrame.FirstPageNumber");
        Check(companion->PageCount(count.Out()), "MapSeriesFrame.PageCount");
        return Series{companion, e.name, first.Long(), count.Long()};
    }
    return std::nullopt;
}

const char* PriorityLabel(std::optional<short> p, std::string& code) {
    if (!p) return nullptr;
    static const char* const labels[] = {"LOW", "MEDIUM", "HIGH"};
    if (*p >= 0 && *p <= 2) return labels[*p];
    code = "code " + std::to_string(*p);
    return code.c_str();
}

std::array<double, 4> Measure(const Element& e, const Ref<ICrvDisplay>& display) {
    std::array<double, 4> r{};
    Ref<ICrvEnvelope> envelope;
    if (const auto frame = e.element.Query<ICrvMapFrame>()) {
        // A map frame is where its outline is, without its border: as the host reports it.
        auto outline = Create<ICrvPolygon>(L"CRVAnchorTestHost.Polygon");
        Check(e.element->QueryOutline(display.Get(), outline.Get()), "LayoutElement.QueryOutline");
        Check(outline->GetEnvelope(envelope.Out()), "Polygon.GetEnvelope");
    } else {
        envelope = Create<ICrvEnvelope>(L"CRVAnchorTestHost.Envelope");
        Check(e.element->QueryBounds(display.Get(), envelope.Get()), "LayoutElement.QueryBounds");
    }
    Check(envelope->XMin(&r[0]), "Envelope.XMin");
    Check(envelope->YMin(&r[1]), "Envelope.YMin");
    Check(envelope->XMax(&r[2]), "Envelope.XMax");
    Check(envelope->YMax(&r[3]), "Envelope.YMax");
    return r;
}

const char* TypeOf(const Element& e) {
    if (e.element.Query<ICrvMapFrame>()) return "map_frame";
    if (e.element.Query<ICrvElementSequence>() || e.element.Query<ICrvElementGroup>()) return "group";
    return "element";
}

int Run(const std::string& document, const std::string& units, const std::string& out) {
    const auto app = Create<ICrvHostApplication>(L"CRVAnchorTestHost.Application");
    Ref<ICrvHostDocument> doc;
    Check(app->Document(doc.Out()), "HostApplication.Document");
    Ref<ICrvElementContainer> layout;
    Check(doc->PageLayout(layout.Out()), "HostDocument.PageLayout");
    Ref<ICrvLayoutView> view;
    Check(doc->ActiveView(view.Out()), "HostDocument.ActiveView");
    Ref<ICrvLayoutPage> page;
    Check(view->Page(page.Out()), "LayoutView.Page");
    double width = 0, height = 0;
    Check(page->QuerySize(&width, &height), "LayoutPage.QuerySize");
    Ref<ICrvDisplay> display;
    Check(view->ScreenDisplay(display.Out()), "LayoutView.ScreenDisplay");

    const std::vector<Element> walk = Walk(layout);
    const std::vector<Selected> selected = Select(walk);
    const std::optional<Series> series = FindSeries(walk);
    const LONG first = series ? series->first : 1;
    const LONG last = series ? series->first + series->count - 1 : 1;

    json report = json::object();
    report["document"] = document;
    report["units"] = units;
    report["page_size"] = json::array({width, height});
    report["series"] = series ? json{{"frame", series->frame}, {"first_page", first}, {"last_page", last}} : json();
    json order = json::array();
    for (const Selected& s : selected) order.push_back(walk[s.place].name);
    report["anchor_order"] = std::move(order);
    json pages = json::array();
    for (LONG p = first; p <= last; ++p) {
        if (series) {
            const LONG position = p - first + 1;
            Ref<ICrvPageFeature> feature;
            Check(series->companion->FeatureAt(position, feature.Out()), "MapSeriesFrame.FeatureAt");
            Check(series->companion->SetCurrentPage(feature.Get(), position), "MapSeriesFrame.SetCurrentPage");
        }
        for (const Selected& s : selected) {
            LONG number = p;
            Check(s.manager->AnchorElement(&number), "CRVAnchorManager.AnchorElement");
        }
        json elements = json::array();
        for (size_t i = 0; i < walk.size(); ++i) {
            std::optional<short> priority;
            for (const Selected& s : selected) {
                if (s.place == i) priority = s.priority;
            }
            std::string code;
            const char* label = PriorityLabel(priority, code);
            const auto r = Measure(walk[i], display);
            elements.push_back(json{{"name", walk[i].name},
                                    {"group", walk[i].group},
                                    {"type", TypeOf(walk[i])},
                                    {"anchored", priority.has_value()},
                                    {"priority", label ? json(label) : json()},
                                    {"rect", json::array({r[0], r[1], r[2], r[3]})}});
        }
        pages.push_back(json{{"page", p}, {"elements", std::move(elements)}});
    }
    report["pages"] = std::move(pages);
    // The component shows its reports to the user, not to its caller: none are counted here.
    report["error_reports"] = json();
    for (const Selected& s : selected) Check(s.manager->Reset(), "CRVAnchorManager.Reset");

    std::ofstream file(out, std::ios::binary);
    file << report.dump(2) << "\n";
    if (!file.flush()) throw std::runtime_error("cannot write " + out);
    std::printf("%s: %d pages, %d anchored elements\n", out.c_str(), static_cast<int>(last - first + 1),
                static_cast<int>(selected.size()));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    std::string document, units, out;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if ((arg == "--document" || arg == "--units") && i + 1 < argc) {
            (arg == "--document" ? document : units) = argv[++i];
        } else if (out.empty() && arg.rfind("--", 0) != 0) {
            out = arg;
        } else {
            out.clear();
            break;
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "usage: crvanchor-book [--document NAME] [--units UNITS] OUT.json\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
        std::fprintf(stderr, "crvanchor-book: COM cannot start\n");
        return 2;
    }
    int status = 2;
    try {
        status = Run(document, units, out);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "crvanchor-book: %s\n", e.what());
    }
    CoUninitialize();
    return status;
}
