#include "standalone/cli/Cli.h"

#include "anchor/AnchorRecord.h"
#include "anchor/CRVAnchorManager.h"
#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "support/Activation.h"
#include "standalone/mapbook/Book.h"
#include "standalone/mapbook/Render.h"
#include "standalone/mapbook/Surface.h"
#include "book/RecordText.h"
#include "commands/AnchorCommand.h"
#include "commands/BookCommand.h"
#include "commands/OutputCheck.h"
#include "commands/PagesOption.h"
#include "commands/RecordEdit.h"
#include "commands/Show.h"
#include "support/Edge.h"
#include "support/MessageText.h"

#include <chrono>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cmath>
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
using namespace crv::commands;

// A bad command line: one line, status 2.
struct UsageError : CommandError {
    using CommandError::CommandError;
};

constexpr const char* kUsage =
    "usage: crvanchor book DOC [--pages 1-3,7] [--pdf OUT.pdf] [--png DIR] [--dpi N] [--report OUT.json] [--save "
    "OUT.json]\n"
    "                     [--timing] [--check-overlap] [--strict] [--outline]\n"
    "       crvanchor show DOC [--page-range]\n"
    "       crvanchor anchor DOC ELEMENT KEY=VALUE ...\n"
    "book checks every page: an anchored element off the page (and with --check-overlap two\n"
    "overlapping) is listed on standard error; --outline draws the anchoring on the PNG pages.\n"
    "Exit status: 0 done; 1 error reports shown, or findings with --strict; 2 bad command line or input.\n";

// ------------------------------------------------------------------ book

struct BookArgs {
    fs::path doc;
    std::optional<std::string> pages;
    std::optional<fs::path> pdf, png, report, save;
    double dpi = 100;
    bool timing = false;
    bool check_overlap = false;
    bool strict = false;  // findings of the layout checks make the exit status 1
    bool outline = false;
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
        if (arg == "--pages")
            a.pages = value();
        else if (arg == "--pdf")
            a.pdf = value();
        else if (arg == "--png")
            a.png = value();
        else if (arg == "--report")
            a.report = value();
        else if (arg == "--save")
            a.save = value();
        else if (arg == "--timing")
            a.timing = true;
        else if (arg == "--check-overlap")
            a.check_overlap = true;
        else if (arg == "--strict")
            a.strict = true;
        else if (arg == "--outline")
            a.outline = true;
        else if (arg == "--dpi") {
            try {
                a.dpi = ParseDpi(value());
            } catch (const std::invalid_argument& e) {
                throw UsageError(e.what());
            }
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
    if (a.outline && !a.png) throw UsageError("book: --outline draws on the PNG pages; add --png DIR");
    return a;
}

// Refuses, before anything is written, an output that would replace an input (the document,
// a map series dataset, a picture) or another output, or that names something it cannot be.
// The document itself may be the --save target: saving it there is what is asked.
void CheckOutputs(const BookArgs& a, const Document& doc, const PageList& pages) {
    BookFiles files;
    files.inputs = doc.InputFiles();
    for (const auto& [option, path] : {std::pair{"--pdf", a.pdf}, {"--report", a.report}, {"--save", a.save}}) {
        if (path) files.outputs.push_back({option, *path});
    }
    files.png = a.png;
    files.png_pages = pages;
    try {
        commands::CheckOutputs(files);
    } catch (const OutputRefused& e) {
        throw UsageError(e.what());
    }
    commands::MakeOutputFolders(files);
}

// Beyond this many page units either way no placement is meant: it comes from a no-data value
// or a broken record, and a document saved with it would keep it.
constexpr double kPlacementLimit = 1e6;

void CheckSavable(const fs::path& save, const Document& doc) {
    WalkElements(doc.Host().State().elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        const Rect r = StandaloneHost::ExtentOf(e);
        for (const double v : {r.xmin, r.ymin, r.xmax, r.ymax}) {
            if (std::isfinite(v) && std::fabs(v) <= kPlacementLimit) continue;
            throw UsageError("--save " + QuotedValue(save.string()) + ": " +
                             QuotedValue(StandaloneHost::ElementOf(e).name()) + " would be stored at " + RectText(r) +
                             ", beyond any page (a distance field may hold a no-data value); nothing was written");
        }
    });
}

int RunBook(const std::vector<std::string>& args, std::ostream& out, std::ostream& err, const StderrErrorSink& sink) {
    using Clock = std::chrono::steady_clock;
    const BookArgs a = ParseBookArgs(args);
    const auto runStart = Clock::now();
    StandaloneHost host;
    Document doc(host);
    a.save ? doc.LoadForUpdate(a.doc) : doc.Load(a.doc);
    // Refused before anything is anchored: the component would otherwise show its reports first.
    PageList pageList;
    DocumentBook book(doc, [&sink] { return sink.Count(); }, [&](const BookRange& range) {
        if (!range.HasPages()) {
            const ElementImpl& frame = StandaloneHost::ElementOf(range.series_frame);
            throw UsageError(a.doc.string() + ": no pages: the map series " + QuotedValue(frame.series->name) +
                             " on " + QuotedValue(frame.name()) + " has no features");
        }
        try {
            pageList = a.pages ? ParseBookPages(*a.pages, range.first, range.last) : PageList(range.first, range.last);
        } catch (const std::invalid_argument& e) {
            throw UsageError(e.what());
        }
        CheckOutputs(a, doc, pageList);
    });
    const double loading = std::chrono::duration<double>(Clock::now() - runStart).count();
    TellSelection(book.driver.Selection(), "crvanchor", err);

    BookDriver& driver = book.driver;
    std::unique_ptr<BookRenderer> renderer;
    if (a.pdf || a.png) {
        renderer = std::make_unique<BookRenderer>(doc, book);
        if (a.pdf) renderer->StartPdf(*a.pdf);
        if (a.png) renderer->SetPngFolder(*a.png, a.dpi, a.outline);
        book.surface.SetDrawing([&renderer](int32_t page) { renderer->AddPage(page); });
    }
    if (a.report) {
        book.surface.SetDocumentName(a.doc.generic_string());
        driver.StartReport(*a.report);
    }
    driver.CheckOverlap(a.check_overlap);
    Progress progress(err, pageList.Count());
    driver.OnPage([&progress](size_t done, int32_t page) { progress.Step(done, page); });
    driver.Run(std::move(pageList));
    if (a.save) CheckSavable(*a.save, doc);
    double rendering = driver.Times().drawing;
    if (renderer) {
        const auto start = Clock::now();
        renderer->Finish();
        rendering += std::chrono::duration<double>(Clock::now() - start).count();
    }
    driver.Finish();
    if (a.save) doc.Save(*a.save);
    progress.Done();

    BookEnd end{"crvanchor", a.doc.string(), {a.pdf, a.png, a.report, a.save}, a.strict, {}};
    if (a.timing)
        end.timing =
            BookEnd::Timing{std::chrono::duration<double>(Clock::now() - runStart).count(), loading, rendering};
    return TellBookEnd(driver, end, out, err);
}

// ------------------------------------------------------------------ show

int RunShow(const std::vector<std::string>& args, std::ostream& out) {
    std::optional<std::string> path;
    bool rangeOnly = false;
    for (size_t i = 1; i < args.size(); ++i) {
        if (args[i] == "--page-range")
            rangeOnly = true;
        else if (args[i].rfind("--", 0) == 0)
            throw UsageError("show: unknown option " + args[i]);
        else if (path)
            throw UsageError("show: expected exactly one document (crvanchor show DOC [--page-range])");
        else
            path = args[i];
    }
    if (!path) throw UsageError("show: expected exactly one document (crvanchor show DOC [--page-range])");
    StandaloneHost host;
    Document doc(host);
    doc.Load(*path);
    if (rangeOnly) {
        // For scripts: the book's first and last page numbers and nothing else, so that no name
        // in the document can be mistaken for them.
        const BookRange range = BookRangeOf(host.State());
        out << range.first << " " << range.last << "\n";
        return 0;
    }
    const HostState& s = host.State();
    out << "Document " << *path << ": page " << s.page_width << " x " << s.page_height << " " << doc.Units() << "\n";
    WalkElements(s.elements, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        ElementImpl& impl = StandaloneHost::ElementOf(e);
        if (impl.Kind() != ElementKind::MapFrame || !impl.series) return;
        const SeriesData& d = *impl.series;
        const SeriesOrigin* origin = doc.SeriesOriginOf(e);
        out << "Map series \"" << d.name << "\" on \"" << impl.name() << "\": " << d.PageCount() << " pages from "
            << d.first_page_number << (d.enabled ? "" : " (disabled)");
        if (origin != nullptr)
            out << ", layer " << (origin->layer.empty() ? "(first)" : origin->layer) << " of "
                << origin->dataset.filename().string();
        out << ", current page " << d.first_page_number + d.current_position - 1 << "\n";
    });
    if (!s.active_layout_kind.empty())
        out << "Layout in force: " << s.active_layout_kind << " \"" << s.active_layout_name << "\"\n";
    out << "\n";

    struct Row {
        std::string element, type, rect, anchor;
    };
    std::vector<Row> rows{{"ELEMENT", "TYPE", "RECTANGLE", "ANCHOR"}};
    const std::vector<ShownElement> shown = ShownElements();
    for (const ShownElement& e : shown) {
        const ElementImpl& impl = StandaloneHost::ElementOf(e.element);
        std::string type = ElementTypeName(impl.Kind());
        if (*GroupMembersBy(impl.Kind()) != '\0') type += std::string(" (") + GroupMembersBy(impl.Kind()) + ")";
        rows.push_back({std::string(2 * e.depth, ' ') + (e.name.empty() ? "(unnamed)" : e.name), type,
                        RectText(StandaloneHost::ExtentOf(e.element)), e.record ? e.summary : "-"});
    }
    size_t w0 = 0, w1 = 0, w2 = 0;
    for (const auto& r : rows) {
        w0 = std::max(w0, r.element.size());
        w1 = std::max(w1, r.type.size());
        w2 = std::max(w2, r.rect.size());
    }
    for (const auto& r : rows) {
        out << std::left << std::setw(static_cast<int>(w0 + 2)) << r.element << std::setw(static_cast<int>(w1 + 2))
            << r.type << std::setw(static_cast<int>(w2 + 2)) << r.rect << r.anchor << "\n";
    }
    const auto cycles = CycleLines(RunningApplication()->Document()->PageLayout());
    if (!cycles.empty()) out << "\n";
    for (const std::string& line : cycles) out << line << "; the book leaves it where it stands\n";
    for (const ShownElement& e : shown) {
        if (!e.record) continue;
        out << "\nAnchor record of \"" << e.name << "\":\n";
        auto contents = ComPtr<BagContents>::Query(e.record);
        for (const auto& [k, v] : contents->Entries()) {
            out << "  " << std::left << std::setw(20) << k << std::setw(9) << Variant::TypeName(v.Type())
                << RecordValueText(v) << "\n";
        }
    }
    return 0;
}

// ------------------------------------------------------------------ anchor

int RunAnchor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    if (args.size() < 3)
        throw UsageError("anchor: expected a document and an element (crvanchor anchor DOC ELEMENT KEY=VALUE ...)");
    if (!IsValidUtf8(args[2]))
        throw UsageError("anchor: the element name " + QuotedValue(args[2]) + " is not UTF-8 text");
    const RecordChanges changes = ParseRecordChanges({args.begin() + 3, args.end()});

    StandaloneHost host;
    Document doc(host);
    doc.LoadForUpdate(args[1]);
    const ComPtr<LayoutElement> element = ElementNamed(args[2]);
    if (!element) throw UsageError("anchor: no element named " + QuotedValue(args[2]) + " in " + args[1]);

    // Field names are left to the engine here: a map document may hold several series, and a
    // record's fields are those of its own target's, which the engine tests on every page.
    CheckAnchorEdit(changes, args[1], {});
    auto manager = CreateObjectByProgId<_CRVAnchorManager>(kAnchorManagerProgId);
    const AnchorEdit edit = ApplyAnchorEdit(*manager, element, changes);
    if (edit.outcome == RecordEditOutcome::Reported) return 0;  // the component reported why; the status says so
    doc.Save(doc.Path());
    out << RecordEditMessage(edit.outcome, args[2], changes, args[1]);
    if (!edit.cycle.empty()) err << "crvanchor: " << edit.cycle << "\n";
    return 0;
}

}  // namespace

int RunCrvAnchor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    StderrErrorSink sink;
    ScopedErrorSink scope(sink);
    return RunAtEdge("crvanchor", err, [&] {
        if (args.empty()) throw UsageError("which command? (book, show or anchor; crvanchor --help tells more)");
        const std::string& command = args[0];
        if (command == "--help" || command == "-h" || command == "help") {
            out << kUsage;
            return 0;
        }
        if (command == "book" || command == "anchor") {
            try {
                RequireEngine();
            } catch (const ActivationError& e) {
                throw UsageError(e.what());
            }
        }
        int status = 0;
        if (command == "book")
            status = RunBook(args, out, err, sink);
        else if (command == "show")
            status = RunShow(args, out);
        else if (command == "anchor")
            status = RunAnchor(args, out, err);
        else
            throw UsageError("unknown command \"" + command + "\" (book, show or anchor)");
        return StatusAfterReports("crvanchor", sink.Count(), status, err);
    });
}

}  // namespace crv::standalone
