#pragma once
// What the core's entry points share: the mirror a host opened, the engine's reports kept as
// values, and the turning of whatever is thrown into a status and a line for crv_last_error().
#include "core/crvanchor_core.h"

#include "anchor/CRVAnchorManager.h"
#include "book/BookDriver.h"
#include "commands/AnchorCommand.h"
#include "errors/ErrorHandling.h"
#include "host/HostClasses.h"
#include "standalone/host/HostSurface.h"
#include "standalone/host/StandaloneHost.h"
#include "support/Edge.h"
#include "support/MessageText.h"

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace crv::core {

using json = nlohmann::ordered_json;
using objects::Rect;
using standalone::StandaloneHost;

constexpr const char* kSource = "CRVAnchor";

// The calling thread's last failure (defined once: the Windows toolchain makes an inline
// thread-local variable once per file).
std::string& LastError();

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
inline ComPtr<_CRVAnchorManager> NewManager() { return MakeCom<_CRVAnchorManager, CRVAnchorManager>(); }

inline std::vector<double> RectArray(const Rect& r) { return {r.xmin, r.ymin, r.xmax, r.ymax}; }

inline char* Give(const std::string& text) {
    char* out = static_cast<char*>(std::malloc(text.size() + 1));
    if (out == nullptr) throw std::bad_alloc();
    std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

inline std::string Dump(const json& j) { return j.dump(-1, ' ', false, json::error_handler_t::replace); }

// A value tagged with its kind, as the description holds it (a double that is not finite as
// its name), so that a host stores back what it described.
inline json Tagged(const Variant& v) {
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
inline bool g_open = false;

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
    // The form open over one of its elements, closed with the mirror.
    crv_form* form = nullptr;

    void Remember() {
        known.clear();
        crv::standalone::WalkElements(host->State().elements,
                                      [&](const crv::ComPtr<crv::LayoutElement>& e, const std::string&) {
                                          known.emplace_back(e, surface->RectOf(e));
                                      });
    }

    // Every element whose rectangle changed since the caller last heard of it, enclosing groups
    // included, in layout order; the caller knows them from now on.
    crv::core::json Moves() {
        crv::core::json moves = crv::core::json::array();
        for (auto& [e, rect] : known) {
            const crv::objects::Rect now = surface->RectOf(e);
            if (now.xmin == rect.xmin && now.ymin == rect.ymin && now.xmax == rect.xmax && now.ymax == rect.ymax) continue;
            rect = now;
            moves.push_back(crv::core::json{{"element", e->Name()},
                                            {"rect", crv::core::RectArray(now)},
                                            {"layout_page", crv::standalone::StandaloneHost::LayoutPageOf(e)}});
        }
        return moves;
    }

    // The element of that name, found as every command finds it, or the refusal of
    // `function`'s call, naming it.
    static crv::ComPtr<crv::LayoutElement> Named(const char* function, const std::string& name) {
        if (crv::ComPtr<crv::LayoutElement> e = crv::commands::ElementNamed(name)) return e;
        throw crv::core::Refused(std::string(function) + ": no element named " + crv::support::QuotedValue(name));
    }

    // The anchored elements and their order follow the records: chosen again after an edit.
    // An element the host places itself is left out, and a finding of every page.
    void ChooseAgain() {
        const auto held = [](const crv::ComPtr<crv::LayoutElement>& e) {
            return crv::standalone::StandaloneHost::HeldReason(e);
        };
        driver = std::make_unique<crv::book::BookDriver>(*surface, crv::core::NewManager,
                                                         [r = &reports] { return r->Count(); }, held);
        for (const auto& left : driver->Selection().LeftOutElements()) {
            if (!held(left.element).empty() && left.reason == held(left.element))
                driver->AddStandingFinding({crv::book::CheckFinding::Kind::DataDefined, left.name, ""});
        }
    }
};

namespace crv::core {

// Runs an entry point's body: its status, with the message kept for crv_last_error().
template <class Body>
inline crv_status Guarded(Body&& body) noexcept {
    LastError().clear();
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
        LastError() = support::OneLine(message);
    } catch (...) {
        // The status still says it.
    }
    return status;
}

inline void Require(bool ok, const char* what) {
    if (!ok) throw Refused(what);
}

// While alive, an element's own page is in force (its size, its printed page), as while the book
// places it: for what the form does over one element (measuring its distances, Apply). The page
// as a whole is in force again after.
class ElementPageScope {
public:
    ElementPageScope(crv_mirror& mirror, const ComPtr<LayoutElement>& element) : mirror_(mirror) {
        if (element) mirror_.surface->PutElementPageInForce(element, mirror_.surface->PageInForce());
    }
    ~ElementPageScope() {
        try {
            mirror_.surface->PutElementPageInForce({}, mirror_.surface->PageInForce());
        } catch (...) {
            // Only memory can fail here; the next page put in force sets it all again.
        }
    }
    ElementPageScope(const ElementPageScope&) = delete;
    ElementPageScope& operator=(const ElementPageScope&) = delete;

private:
    crv_mirror& mirror_;
};

}  // namespace crv::core

