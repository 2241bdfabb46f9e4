#include "standalone/Cli.h"

#include "anchor/AnchorRecord.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "standalone/Activation.h"
#include "standalone/Book.h"
#include "standalone/Render.h"

#include <chrono>
#include <nlohmann/json.hpp>

#include <unistd.h>

#include <charconv>
#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <map>
#include <optional>
#include <sstream>

namespace crv::standalone {

namespace {

namespace fs = std::filesystem;
using json = nlohmann::ordered_json;

// A bad command line: one line, status 2.
struct UsageError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

constexpr const char* kUsage =
    "usage: crvanchor book DOC [--pages 1-3,7] [--pdf OUT.pdf] [--png DIR] [--dpi N] [--report OUT.json] [--save OUT.json]\n"
    "                     [--timing]\n"
    "       crvanchor show DOC\n"
    "       crvanchor anchor DOC ELEMENT KEY=VALUE ...\n";

std::string Fixed(double v, int decimals = 3) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(decimals) << v;
    return s.str();
}

std::string RectText(const Rect& r) {
    std::ostringstream s;
    s << "(" << Fixed(r.xmin) << ", " << Fixed(r.ymin) << ")-(" << Fixed(r.xmax) << ", " << Fixed(r.ymax) << ")";
    return s.str();
}

// Built by appending: prepending to a temporary string trips a false overlap warning of the
// optimiser.
std::string Quoted(const std::string& text) {
    std::string q;
    q += '"';
    q += text;
    q += '"';
    return q;
}

template <size_t N>
std::string Label(const std::array<const char*, N>& labels, int32_t code) {
    if (code >= 0 && static_cast<size_t>(code) < N) return labels[static_cast<size_t>(code)];
    return "code " + std::to_string(code);
}

// ------------------------------------------------------------------ book

struct BookArgs {
    fs::path doc;
    std::optional<std::string> pages;
    std::optional<fs::path> pdf, png, report, save;
    double dpi = 100;
    bool timing = false;
};

BookArgs ParseBookArgs(const std::vector<std::string>& args) {
    BookArgs a;
    bool haveDoc = false;
    for (size_t i = 1; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--pages") a.pages = value();
        else if (arg == "--pdf") a.pdf = value();
        else if (arg == "--png") a.png = value();
        else if (arg == "--report") a.report = value();
        else if (arg == "--save") a.save = value();
        else if (arg == "--timing") a.timing = true;
        else if (arg == "--dpi") {
            const std::string v = value();
            double d = 0;
            const auto [end, ec] = std::from_chars(v.data(), v.data() + v.size(), d);
            if (ec != std::errc() || end != v.data() + v.size() || !(d >= 10 && d <= 1200)) {
                throw UsageError("--dpi: expected a number from 10 to 1200, found \"" + v + "\"");
            }
            a.dpi = d;
        } else if (arg.rfind("--", 0) == 0) {
            throw UsageError("book: unknown option " + arg);
        } else if (!haveDoc) {
            a.doc = arg;
            haveDoc = true;
        } else {
            throw UsageError("book: unexpected argument \"" + arg + "\"");
        }
    }
    if (!haveDoc) throw UsageError("book: which document? (crvanchor book DOC ...)");
    return a;
}

class Progress {
public:
    Progress(std::ostream& err, size_t total)
        : err_(err), total_(total), on_(&err == &std::cerr && ::isatty(STDERR_FILENO) == 1) {}
    void Step(size_t done, int32_t page) {
        if (!on_) return;
        constexpr size_t kWidth = 30;
        const size_t filled = total_ == 0 ? kWidth : done * kWidth / total_;
        err_ << "\r[" << std::string(filled, '#') << std::string(kWidth - filled, '.') << "] " << done << "/" << total_
             << " page " << page << "   " << std::flush;
    }
    void Done() {
        if (on_) err_ << "\n" << std::flush;
    }

private:
    std::ostream& err_;
    size_t total_;
    bool on_;
};

json PlacementJson(const Placement& p) {
    json j = json::object();
    j["name"] = p.name;
    j["group"] = p.group;
    j["type"] = p.type;
    j["anchored"] = p.anchored;
    j["priority"] = p.priority ? json(Label(kPriorityLabels, *p.priority)) : json(nullptr);
    j["rect"] = json::array({p.rect.xmin, p.rect.ymin, p.rect.xmax, p.rect.ymax});
    return j;
}

void WriteTextFile(const fs::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) throw UsageError("cannot write " + path.string());
}

// Where a book's time goes, for --timing.
class PhaseClock {
public:
    using Clock = std::chrono::steady_clock;
    void Start() { started_ = Clock::now(); }
    void Stop(double& into) { into += std::chrono::duration<double>(Clock::now() - started_).count(); }

private:
    Clock::time_point started_;
};

int RunBook(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const StderrErrorSink& sink) {
    const BookArgs a = ParseBookArgs(args);
    PhaseClock clock;
    double loading = 0, anchoring = 0, reporting = 0, rendering = 0;
    const auto runStart = PhaseClock::Clock::now();
    clock.Start();
    StandaloneHost host;
    Document doc(host);
    a.save ? doc.LoadForUpdate(a.doc) : doc.Load(a.doc);
    MapBook book(doc, [&sink] { return sink.Count(); });
    clock.Stop(loading);
    std::vector<int32_t> pages;
    try {
        pages = a.pages ? book.ParsePages(*a.pages) : book.AllPages();
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }

    std::unique_ptr<BookRenderer> renderer;
    if (a.pdf || a.png) {
        renderer = std::make_unique<BookRenderer>(doc, book);
        if (a.pdf) renderer->StartPdf(*a.pdf);
        if (a.png) renderer->SetPngFolder(*a.png, a.dpi);
    }

    json report = json::object();
    report["document"] = a.doc.generic_string();
    report["units"] = doc.Units();
    report["page_size"] = json::array({host.State().page_width, host.State().page_height});
    if (book.SeriesFrame()) {
        json s = json::object();
        s["frame"] = StandaloneHost::Impl(book.SeriesFrame()).name();
        s["first_page"] = book.FirstPage();
        s["last_page"] = book.LastPage();
        report["series"] = s;
    } else {
        report["series"] = nullptr;
    }
    json anchorOrder = json::array();
    for (const auto& e : book.AnchorOrder()) anchorOrder.push_back(StandaloneHost::Impl(e).name());
    report["anchor_order"] = anchorOrder;

    Progress progress(err, pages.size());
    json pageList = json::array();
    size_t done = 0;
    for (int32_t page : pages) {
        clock.Start();
        book.ShowPage(page);
        clock.Stop(anchoring);
        clock.Start();
        json pj = json::object();
        pj["page"] = page;
        json elements = json::array();
        for (const auto& p : book.Placements()) elements.push_back(PlacementJson(p));
        pj["elements"] = std::move(elements);
        pageList.push_back(std::move(pj));
        clock.Stop(reporting);
        if (renderer) {
            clock.Start();
            renderer->AddPage(page);
            clock.Stop(rendering);
        }
        progress.Step(++done, page);
    }
    progress.Done();
    if (renderer) {
        clock.Start();
        renderer->Finish();
        clock.Stop(rendering);
    }
    report["pages"] = std::move(pageList);

    const int reports = sink.Count();
    report["error_reports"] = reports;
    if (a.report) WriteTextFile(*a.report, report.dump(2, ' ', false, json::error_handler_t::replace) + "\n");
    if (a.save) doc.Save(*a.save);

    out << "Map book " << a.doc.string() << ": " << pages.size() << (pages.size() == 1 ? " page" : " pages") << ", "
        << book.AnchorOrder().size() << " anchored elements\n";
    if (a.pdf) out << "  PDF: " << a.pdf->string() << "\n";
    if (a.png) out << "  PNG: " << a.png->string() << "/page-NNN.png\n";
    if (a.report) out << "  report: " << a.report->string() << "\n";
    if (a.save) out << "  saved: " << a.save->string() << "\n";
    if (a.timing) {
        const double total = std::chrono::duration<double>(PhaseClock::Clock::now() - runStart).count();
        const size_t placements = pages.size() * book.AnchorOrder().size();
        out << "  timing: total " << Fixed(total, 4) << " s; loading " << Fixed(loading, 4) << " s; anchoring "
            << Fixed(anchoring, 4) << " s (" << placements << " placements, "
            << Fixed(placements == 0 ? 0.0 : anchoring * 1e6 / static_cast<double>(placements), 2)
            << " us each); report " << Fixed(reporting, 4) << " s; rendering " << Fixed(rendering, 4) << " s; anchoring is "
            << Fixed(total > 0 ? 100.0 * anchoring / total : 0.0, 1) << "% of the run\n";
    }
    return 0;
}

// ------------------------------------------------------------------ show

std::string RecordValueText(const Variant& v) {
    if (v.IsEmpty()) return "(missing)";
    if (v.IsNull()) return "Null";
    if (v.IsObject()) return "(object)";
    if (v.Type() == VariantType::Boolean) return v.AsBoolean() ? "true" : "false";
    if (v.Type() == VariantType::String) return "\"" + v.AsString() + "\"";
    return CStr(v, RegionalSettings::Invariant());
}

std::string Summary(const ComPtr<PropertyBag>& r) {
    auto get = [&](const char* k) { return r->GetProperty(k); };
    auto safe = [](auto f) -> std::string {
        try {
            return f();
        } catch (const ComError&) {
            return "?";
        }
    };
    const std::string priority = safe([&] { return Label(kPriorityLabels, CInt(get(key::AnchorPriority))); });
    const bool on = safe([&] { return std::string(CBool(get(key::AnchorElement)) ? "1" : "0"); }) == "1";
    const std::string target = safe([&] {
        return CStr(get(key::AnchorType)) == kAnchorTypeNamedElement ? Quoted(CStr(get(key::ElementName))) : std::string("page");
    });
    auto rule = [&](const char* from, const char* to, const char* h, const char* hf, const char* hn, const char* v,
                    const char* vf, const char* vn) {
        return safe([&] {
            auto dist = [&](const char* d, const char* f, const char* n) {
                std::string s = Fixed(CDbl(get(d)), 3);
                if (CBool(get(f))) s += " or field " + CStr(get(n));
                return s;
            };
            return Label(kPointLabels, CInt(get(from))) + " to " + Label(kPointLabels, CInt(get(to))) + " of " + target +
                   ", h " + dist(h, hf, hn) + ", v " + dist(v, vf, vn);
        });
    };
    std::string s = priority + (on ? "" : " (off)") + ": " +
                    rule(key::AnchorFromAll, key::AnchorToAll, key::HDistanceAll, key::HFromFieldAll, key::HFieldNameAll,
                         key::VDistanceAll, key::VFromFieldAll, key::VFieldNameAll);
    const bool alt = safe([&] { return std::string(CBool(get(key::UseAltAnchoring)) ? "1" : "0"); }) == "1";
    if (alt) {
        const std::string when = safe([&] {
            const int16_t t = CInt(get(key::AltAnchorType));
            if (t == kAltPageRange) return "pages " + CStr(get(key::AltAnchorPageRange));
            return Label(kAltPageLabels, t);
        });
        s += "; on " + when + ": " +
             rule(key::AnchorFromAlt, key::AnchorToAlt, key::HDistanceAlt, key::HFromFieldAlt, key::HFieldNameAlt,
                  key::VDistanceAlt, key::VFromFieldAlt, key::VFieldNameAlt);
    }
    return s;
}

// The record on an element, read without raising or reporting.
ComPtr<PropertyBag> RecordOf(const ComPtr<LayoutElement>& e) {
    auto outer = e->CustomProperty().ObjectAs<PropertyBag>();
    if (!outer) return {};
    auto family = outer->GetProperty(kCorvaneProperties).ObjectAs<PropertyBag>();
    if (!family) return {};
    return family->GetProperty(kAnchorProperties).ObjectAs<PropertyBag>();
}

int RunShow(const std::vector<std::string>& args, std::ostream& out) {
    if (args.size() != 2) throw UsageError("show: expected exactly one document (crvanchor show DOC)");
    StandaloneHost host;
    Document doc(host);
    doc.Load(args[1]);
    const HostState& s = host.State();
    out << "Document " << args[1] << ": page " << s.page_width << " x " << s.page_height << " " << doc.Units() << "\n";
    WalkElements(s.elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        ElementImpl& impl = StandaloneHost::Impl(e);
        if (impl.Kind() != ElementKind::MapFrame || !impl.series) return;
        const SeriesData& d = *impl.series;
        const SeriesOrigin* origin = doc.SeriesOriginOf(e);
        out << "Map series \"" << d.name << "\" on \"" << impl.name() << "\": " << d.features.size() << " pages from "
            << d.first_page_number << (d.enabled ? "" : " (disabled)");
        if (origin != nullptr) out << ", layer " << (origin->layer.empty() ? "(first)" : origin->layer) << " of " << origin->dataset.filename().string();
        out << ", current page " << d.first_page_number + d.current_position - 1 << "\n";
    });
    if (!s.active_layout_kind.empty()) out << "Layout in force: " << s.active_layout_kind << " \"" << s.active_layout_name << "\"\n";
    out << "\n";

    struct Row {
        std::string element, type, rect, anchor;
    };
    std::vector<Row> rows{{"ELEMENT", "TYPE", "RECTANGLE", "ANCHOR"}};
    std::vector<std::pair<std::string, ComPtr<PropertyBag>>> records;
    WalkElements(s.elements, [&](const ComPtr<LayoutElement>& e, const std::string& group) {
        ElementImpl& impl = StandaloneHost::Impl(e);
        const size_t depth = group.empty() ? 0 : 1 + static_cast<size_t>(std::count(group.begin(), group.end(), '/'));
        std::string type = ElementTypeName(impl.Kind());
        if (impl.Kind() == ElementKind::Group) type += " (walk)";
        if (impl.Kind() == ElementKind::IndexedGroup) type += " (index)";
        if (impl.Kind() == ElementKind::SequenceAndIndexedGroup) type += " (both)";
        const auto record = RecordOf(e);
        rows.push_back({std::string(2 * depth, ' ') + (impl.name().empty() ? "(unnamed)" : impl.name()), type,
                        RectText(StandaloneHost::ExtentOf(e)), record ? Summary(record) : "-"});
        if (record) records.emplace_back(impl.name(), record);
    });
    size_t w0 = 0, w1 = 0, w2 = 0;
    for (const auto& r : rows) {
        w0 = std::max(w0, r.element.size());
        w1 = std::max(w1, r.type.size());
        w2 = std::max(w2, r.rect.size());
    }
    for (const auto& r : rows) {
        out << std::left << std::setw(static_cast<int>(w0 + 2)) << r.element << std::setw(static_cast<int>(w1 + 2)) << r.type
            << std::setw(static_cast<int>(w2 + 2)) << r.rect << r.anchor << "\n";
    }
    for (const auto& [name, record] : records) {
        out << "\nAnchor record of \"" << name << "\":\n";
        auto contents = ComPtr<BagContents>::Query(record);
        for (const auto& [k, v] : contents->Entries()) {
            out << "  " << std::left << std::setw(20) << k << std::setw(9) << Variant::TypeName(v.Type()) << RecordValueText(v)
                << "\n";
        }
    }
    return 0;
}

// ------------------------------------------------------------------ anchor

Variant ConvertValue(const RecordKey& k, const std::string& text) {
    const std::string where = std::string(k.name) + "=" + text + ": ";
    switch (k.kind) {
        case KeyKind::Boolean:
            if (text == "true" || text == "1") return Variant(true);
            if (text == "false" || text == "0") return Variant(false);
            throw UsageError(where + "expected true or false");
        case KeyKind::Integer: {
            const std::string name = k.name;
            auto byLabel = [&](const auto& labels) -> std::optional<int16_t> {
                for (size_t i = 0; i < labels.size(); ++i) {
                    if (text == labels[i]) return static_cast<int16_t>(i);
                }
                return std::nullopt;
            };
            std::optional<int16_t> code;
            if (name.rfind("AnchorFrom", 0) == 0 || name.rfind("AnchorTo", 0) == 0) code = byLabel(kPointLabels);
            if (name == key::AltAnchorType) code = byLabel(kAltPageLabels);
            if (name == key::AnchorPriority) code = byLabel(kPriorityLabels);
            if (code) return Variant(*code);
            int16_t v = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
            if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
                throw UsageError(where + "expected a whole number from -32768 to 32767 or one of the key's labels");
            }
            return Variant(v);
        }
        case KeyKind::Distance: {
            double d = 0;
            const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), d);
            if (ec != std::errc() || end != text.data() + text.size() || text.empty()) {
                throw UsageError(where + "expected a number such as -0.25");
            }
            return Variant(d);
        }
        case KeyKind::String: return Variant(text);
    }
    throw UsageError(where + "unknown kind");
}

int RunAnchor(const std::vector<std::string>& args, std::ostream& out) {
    if (args.size() < 3) throw UsageError("anchor: expected a document and an element (crvanchor anchor DOC ELEMENT KEY=VALUE ...)");
    std::vector<std::pair<const RecordKey*, Variant>> changes;
    bool canAnchorGiven = false;
    for (size_t i = 3; i < args.size(); ++i) {
        const size_t eq = args[i].find('=');
        if (eq == std::string::npos) throw UsageError("anchor: expected KEY=VALUE, found \"" + args[i] + "\"");
        const std::string k = args[i].substr(0, eq);
        const RecordKey* found = nullptr;
        for (const auto& rk : RecordKeys()) {
            if (k == rk.name) found = &rk;
        }
        if (found == nullptr) throw UsageError("anchor: \"" + k + "\" is not a key of the anchor record");
        canAnchorGiven = canAnchorGiven || k == key::CanAnchor;
        changes.emplace_back(found, ConvertValue(*found, args[i].substr(eq + 1)));
    }

    StandaloneHost host;
    Document doc(host);
    doc.LoadForUpdate(args[1]);
    ComPtr<LayoutElement> element;
    WalkElements(host.State().elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        if (!element && StandaloneHost::Impl(e).name() == args[2]) element = e;
    });
    if (!element) throw UsageError("anchor: no element named \"" + args[2] + "\" in " + args[1]);

    auto manager = CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId);
    const bool created = !manager->IsAnchorElement(element);
    if (created) manager->AddAnchorProperties(element, manager->MakeAnchorProperties());
    ComPtr<PropertyBag> record = RecordOf(element);
    if (!record) return 0;  // the component reported why; the status says so
    for (const auto& [k, v] : changes) record->SetProperty(k->name, v);
    if (!canAnchorGiven) {
        // Keep the stored summary true to the record, as the property page does on every save.
        try {
            record->SetProperty(key::CanAnchor, StoredCanAnchor(CBool(record->GetProperty(key::AnchorElement)),
                                                                CStr(record->GetProperty(key::AnchorType)),
                                                                CStr(record->GetProperty(key::ElementName))));
        } catch (const ComError&) {
            record->SetProperty(key::CanAnchor, false);
        }
    }
    doc.Save(doc.Path());
    out << (created ? "Gave \"" : "Changed \"") << args[2] << "\" " << (created ? "a default anchor record" : "its anchor record");
    if (!changes.empty()) {
        out << " with";
        for (const auto& [k, v] : changes) out << " " << k->name << "=" << RecordValueText(v);
    }
    out << "; saved " << args[1] << "\n";
    return 0;
}

}  // namespace

int RunCrvAnchor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    StderrErrorSink sink;
    ScopedErrorSink scope(sink);
    try {
        if (args.empty()) throw UsageError("which command? (book, show or anchor; crvanchor --help tells more)");
        const std::string& command = args[0];
        if (command == "--help" || command == "-h" || command == "help") {
            out << kUsage;
            return 0;
        }
        if (command == "book" || command == "anchor") RequireEngine();
        int status = 0;
        if (command == "book") status = RunBook(args, out, err, sink);
        else if (command == "show") status = RunShow(args, out);
        else if (command == "anchor") status = RunAnchor(args, out);
        else throw UsageError("unknown command \"" + command + "\" (book, show or anchor)");
        if (sink.Count() > 0) {
            err << "crvanchor: " << sink.Count() << (sink.Count() == 1 ? " error report" : " error reports") << " shown\n";
            return 1;
        }
        return status;
    } catch (const UsageError& e) {
        err << "crvanchor: " << e.what() << "\n";
    } catch (const DocumentError& e) {
        err << "crvanchor: " << e.what() << "\n";
    } catch (const RenderError& e) {
        err << "crvanchor: " << e.what() << "\n";
    } catch (const ActivationError& e) {
        err << "crvanchor: " << e.what() << "\n";
    } catch (const ComError& e) {
        err << "crvanchor: " << e.Description() << "\n";
    }
    return 2;
}

}  // namespace crv::standalone
