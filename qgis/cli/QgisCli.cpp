#include "qgis/cli/QgisCli.h"

#include "qgis/cli/Bake.h"
#include "qgis/cli/Session.h"

#include "anchor/GeneralFunctions.h"
#include "errors/ErrorHandling.h"
#include "qgis/host/AtlasSurface.h"
#include "qgis/host/QgisHost.h"
#include "objects/StoredProperties.h"
#include "support/Activation.h"
#include "book/BookDriver.h"
#include "book/Outline.h"
#include "drawing/OutlinePainter.h"
#include "book/OutputCheck.h"
#include "book/RecordEdit.h"
#include "support/AtomicFile.h"
#include "support/CommandLine.h"
#include "support/Edge.h"
#include "support/FileLock.h"
#include "support/MessageText.h"
#include "support/PdfCheck.h"

#include <qgsabstractlayoutiterator.h>
#include <qgsabstractvaliditycheck.h>
#include <qgsapplication.h>
#include <qgsfeedback.h>
#include <qgslayertree.h>
#include <qgsmapthemecollection.h>
#include <qgsvaliditycheckcontext.h>
#include <qgsvaliditycheckregistry.h>
#include <qgslayoutatlas.h>
#include <qgslayoutexporter.h>
#include <qgslayoutitemgroup.h>
#include <qgslayoutitemregistry.h>
#include <qgslayoutitemmap.h>
#include <qgslayoutitempicture.h>
#include <qgslayoutmanager.h>
#include <qgslayoutitempage.h>
#include <qgslayoutpagecollection.h>
#include <qgsprintlayout.h>
#include <qgsproject.h>
#include <qgsvectorlayer.h>
#include <qgsunittypes.h>

#include <QBuffer>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <chrono>
#include <exception>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace crv::qgis {

namespace {

namespace fs = std::filesystem;
namespace gf = GeneralFunctions;
using support::QuotedValue;

constexpr const char* kUsage =
    "usage: crvanchor-qgis PROJECT [--layout NAME] [--pages 1-3,7] [--pdf OUT.pdf] [--png DIR] [--dpi N]\n"
    "                      [--report OUT.json] [--save OUT.qgz] [--timing] [--check-overlap] [--strict] [--outline]\n"
    "                      [--allow-missing]\n"
    "       crvanchor-qgis show PROJECT [--layout NAME]\n"
    "       crvanchor-qgis anchor PROJECT [--layout NAME] ITEM KEY=VALUE ...\n"
    "       crvanchor-qgis bake|unbake PROJECT [--layout NAME]\n"
    "--layout may be left out when the project has one print layout. A project named show, anchor, bake or unbake\n"
    "is given as ./show.\n"
    "Every page is checked for anchored items off the page (--check-overlap: also overlapping), listed on\n"
    "standard error; --outline draws the anchoring on the PNG pages. A layer of the layout that cannot be read or a\n"
    "picture that cannot be found stops the export (status 2) unless --allow-missing is given. --dpi defaults to\n"
    "the layout's export resolution. QGIS's own warnings follow \"QGIS: \" on standard error. bake writes each\n"
    "anchored item's place on every atlas page into the project, so that QGIS without the plugin prints it the\n"
    "same; unbake takes it out.\n"
    "Exit status: 0 done; 1 error reports shown, or findings with --strict; 2 bad input.\n";

// The options of `a.command` in args[i...]; the first word that is not an option names the
// project unless `a` has it already.
void ParseOptions(CommandArgs& a, const std::vector<std::string>& args, size_t i, bool haveProject) {
    for (; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= args.size()) throw UsageError(arg + " needs a value");
            return args[++i];
        };
        const bool book = a.command == "book";
        if (arg == "--layout")
            a.layout = value();
        else if (book && arg == "--pages")
            a.pages = value();
        else if (book && arg == "--pdf")
            a.pdf = value();
        else if (book && arg == "--png")
            a.png = value();
        else if (book && arg == "--report")
            a.report = value();
        else if (book && arg == "--save")
            a.save = value();
        else if (book && arg == "--dpi") {
            try {
                a.dpi = support::ParseDpi(value());
            } catch (const std::invalid_argument& e) {
                throw UsageError(e.what());
            }
        } else if (book && arg == "--timing")
            a.timing = true;
        else if (book && arg == "--check-overlap")
            a.check_overlap = true;
        else if (book && arg == "--strict")
            a.strict = true;
        else if (book && arg == "--outline")
            a.outline = true;
        else if (book && arg == "--allow-missing")
            a.allow_missing = true;
        else if (arg.rfind("--", 0) == 0)
            throw UsageError(a.command + ": unknown option " + arg);
        else if (!haveProject) {
            a.project = arg;
            haveProject = true;
        } else if (a.command == "anchor") {
            a.rest.push_back(arg);
        } else {
            throw UsageError(a.command + ": unexpected argument \"" + arg + "\"");
        }
    }
    if (!haveProject)
        throw UsageError("which project? (crvanchor-qgis " + (a.command == "book" ? "" : a.command + " ") +
                         "PROJECT [--layout NAME] ...)");
    if (a.outline && !a.png) throw UsageError("book: --outline draws on the PNG pages; add --png DIR");
    if (a.command == "anchor" && a.rest.empty())
        throw UsageError(
            "anchor: expected an item and KEY=VALUE ... (crvanchor-qgis anchor PROJECT [--layout NAME] ITEM ...)");
}

// A first word that names a command is the command: a project of that name is given as ./show.
CommandArgs ParseArgs(const std::vector<std::string>& args) {
    CommandArgs a;
    size_t i = 0;
    if (!args.empty() && (args[0] == "show" || args[0] == "anchor" || args[0] == "bake" || args[0] == "unbake"))
        a.command = args[i++];
    ParseOptions(a, args, i, false);
    return a;
}

// The outputs as the shared check takes them; QGIS writes the PDF and the project itself, by
// a path it takes as text.
book::BookFiles OutputsOf(const CommandArgs& a) {
    book::BookFiles files;
    for (const auto& [option, path] : {std::pair{"--pdf", a.pdf}, {"--report", a.report}, {"--save", a.save}}) {
        if (path) files.outputs.push_back({option, *path});
    }
    files.wording = book::BookFiles::Wording::ThatIsTheFile;
    return files;
}

// Outputs that would replace the project being read, or each other, or that name what they
// cannot be, are refused before anything is written; saving the project in place is what
// --save PROJECT asks. A file of several names is refused too: a rename over one would part it
// from the others.
void CheckOutputs(const CommandArgs& a) {
    if (a.pdf) RequireUtf8Path("--pdf ", *a.pdf, "QGIS writes a PDF to");
    if (a.save) RequireUtf8Path("--save ", *a.save, "QGIS writes a project to");
    book::BookFiles files = OutputsOf(a);
    if (!a.project.empty()) files.inputs.push_back({"the project being read", a.project, true});
    files.png = a.png;
    try {
        book::CheckOutputs(files, [](const book::BookFiles::File& output) {
            try {
                support::RequireReplaceable(output.path, output.what + " " + QuotedValue(output.path.string()));
            } catch (const support::FileWriteError& e) {
                throw UsageError(std::string(e.what()) + "; nothing was written");
            }
        });
    } catch (const book::OutputRefused& e) {
        throw UsageError(e.what());
    }
}

// Outputs that would replace a file the project draws from (a layer's data, a picture of the
// layout), and page pictures that would replace any of those or another output, are refused
// once the project and its pages are read, before anything is written.
void CheckOutputsAgainstData(const CommandArgs& a, QgsProject& project, QgsPrintLayout& layout, const PageList& pages) {
    book::BookFiles files = OutputsOf(a);
    files.inputs.push_back({"the project being read", a.project, true});
    files.png = a.png;
    files.png_pages = pages;
    files.png_layout_pages = layout.pageCollection()->pageCount();
    for (const auto& [layer, path] : LayerFiles(project))
        files.inputs.push_back({"the data of the layer " + QuotedValue(layer), path});
    QList<QgsLayoutItemPicture*> pictures;
    layout.layoutItems(pictures);
    for (QgsLayoutItemPicture* picture : pictures) {
        if (!picture->picturePath().isEmpty())
            files.inputs.push_back({"a picture of the layout", picture->picturePath().toStdString()});
    }
    try {
        book::CheckOutputs(files);
    } catch (const book::OutputRefused& e) {
        throw UsageError(e.what());
    }
    book::MakeOutputFolders(files);
}

// The layers the layout's maps draw: a map's own layers, its theme's, or else the project's
// visible ones.
std::vector<QgsMapLayer*> LayersOfLayout(QgsProject& project, QgsPrintLayout& layout) {
    std::vector<QgsMapLayer*> layers;
    const auto add = [&layers](const QList<QgsMapLayer*>& more) {
        for (QgsMapLayer* l : more) {
            if (l != nullptr && std::find(layers.begin(), layers.end(), l) == layers.end()) layers.push_back(l);
        }
    };
    QList<QgsLayoutItemMap*> maps;
    layout.layoutItems(maps);
    for (QgsLayoutItemMap* map : maps) {
        if (map->followVisibilityPreset())
            add(project.mapThemeCollection()->mapThemeVisibleLayers(map->followVisibilityPresetName()));
        else if (map->keepLayerSet())
            add(map->layers());
        else
            add(project.layerTreeRoot()->checkedLayers());
    }
    return layers;
}

// A layer of the layout that QGIS cannot read would leave its maps blank on every page.
void RefuseUnreadableLayers(const CommandArgs& a, QgsProject& project, QgsPrintLayout& layout) {
    for (QgsMapLayer* layer : LayersOfLayout(project, layout)) {
        if (!layer->isValid())
            throw UsageError(a.project.string() + ": the layer " + QuotedValue(layer->name().toStdString()) +
                             " cannot be read from " + QuotedValue(layer->source().toStdString()) +
                             "; nothing was exported (--allow-missing exports without it)");
    }
}

// A picture QGIS cannot find on the page in force (its file, or the one its field names there).
void RefuseMissingPictures(const CommandArgs& a, QgsPrintLayout& layout, int32_t page) {
    QList<QgsLayoutItemPicture*> pictures;
    layout.layoutItems(pictures);
    for (QgsLayoutItemPicture* picture : pictures) {
        if (picture->isMissingImage())
            throw UsageError(a.project.string() + ": the picture " + QuotedValue(picture->displayName().toStdString()) +
                             " cannot find " + QuotedValue(picture->evaluatedPath().toStdString()) + " on page " +
                             std::to_string(page) + "; the export was stopped (--allow-missing draws without it)");
    }
}

// QGIS's own checks of a layout before it is exported, as its designer runs them; each finding
// on a line of its own.
void TellLayoutChecks(QgsPrintLayout& layout, std::ostream& err) {
    QgsLayoutValidityCheckContext context(&layout);
    QgsFeedback feedback;
    const QList<QgsValidityCheckResult> results = QgsApplication::validityCheckRegistry()->runChecks(
        QgsAbstractValidityCheck::TypeLayoutCheck, &context, &feedback);
    for (const QgsValidityCheckResult& r : results) {
        err << "crvanchor-qgis: QGIS's layout check: " << r.title.simplified().toStdString()
            << (r.detailedDescription.isEmpty() ? "" : ": " + r.detailedDescription.simplified().toStdString()) << "\n";
    }
}

// The book's pages as QGIS's exporter pulls them: each next() has the driver put the page in
// force, anchor, measure and report it before QGIS draws it.
class AnchoredPages final : public QgsAbstractLayoutIterator {
public:
    AnchoredPages(QgsPrintLayout& layout, QgsLayoutAtlas* atlas, book::BookDriver& driver, PageList pages)
        : layout_(layout), atlas_(atlas), driver_(driver), pages_(std::move(pages)) {}

    QgsLayout* layout() override { return &layout_; }
    bool beginRender() override {
        driver_.Begin(pages_);
        return atlas_ == nullptr || atlas_->beginRender();
    }
    bool endRender() override {
        driver_.End();
        return atlas_ == nullptr || atlas_->endRender();
    }
    int count() const override { return static_cast<int>(pages_.Count()); }
    bool next() override {
        // What fails here is kept and the export stopped, not thrown through QGIS's exporter.
        try {
            return driver_.Next();
        } catch (...) {
            failure_ = std::current_exception();
            return false;
        }
    }
    QString filePath(const QString& baseFilePath, const QString& extension) override {
        return QStringLiteral("%1/page-%2.%3")
            .arg(baseFilePath)
            .arg(driver_.Cursor().Page(), 3, 10, QLatin1Char('0'))
            .arg(extension);
    }
    // Throws what stopped the pages, if anything did.
    void RethrowFailure() const {
        if (failure_) std::rethrow_exception(failure_);
    }

private:
    QgsPrintLayout& layout_;
    QgsLayoutAtlas* atlas_;
    book::BookDriver& driver_;
    PageList pages_;
    std::exception_ptr failure_;
};

int RunBook(CommandArgs a, std::ostream& out, std::ostream& err, const StderrErrorSink& sink,
            QgsPrintLayout* open = nullptr, const PageDone& pageDone = nullptr) {
    using Clock = std::chrono::steady_clock;
    const auto runStart = Clock::now();
    CheckOutputs(a);
    std::unique_ptr<Session> session =
        open != nullptr ? std::make_unique<Session>(*open, a, err) : std::make_unique<Session>(a, err);
    Session& s = *session;
    const double dpi = a.dpi.value_or(s.layout->renderContext().dpi());
    QgsLayoutAtlas* atlas = s.layout->atlas();
    if (atlas != nullptr && !atlas->enabled()) atlas = nullptr;
    // The first page number is the atlas's: without one the lone page is 1, as the map-book
    // command numbers a layout without a map series.
    const int32_t first = atlas != nullptr ? FirstPageOfLayout(a, *s.layout) : 1;
    const int32_t count = atlas != nullptr ? AtlasPageCount(a, *atlas) : 1;
    if (!a.allow_missing) RefuseUnreadableLayers(a, s.project, *s.layout);
    PageList pages;
    try {
        pages = a.pages ? book::ParseBookPages(*a.pages, first, first + count - 1) : PageList(first, first + count - 1);
    } catch (const std::invalid_argument& e) {
        throw UsageError(e.what());
    }
    CheckOutputsAgainstData(a, s.project, *s.layout, pages);

    book::ReportHead head;
    head.document = a.project.generic_string();
    head.units = QgsUnitTypes::toAbbreviatedString(s.layout->units()).toStdString();
    const QRectF pageRect = s.layout->pageCollection()->page(0)->rect();
    head.page_width = pageRect.width();
    head.page_height = pageRect.height();
    if (atlas != nullptr) {
        std::string frame;
        QList<QgsLayoutItemMap*> maps;
        s.layout->layoutItems(maps);
        for (QgsLayoutItemMap* m : maps) {
            if (m->atlasDriven() && frame.empty()) frame = m->id().toStdString();
        }
        head.series = book::ReportHead::Series{frame, first, first + count - 1};
    }
    // A picture of each page of the layout, encoded in memory, then replaced whole: a full disk
    // leaves the former picture as it was.
    std::unique_ptr<AnchoredPages> it;
    std::unique_ptr<book::BookDriver> driver;
    const auto writePictures = [&](int32_t page) {
        QgsLayoutExporter exporter(s.layout);
        const QgsLayoutPageCollection& layoutPages = *s.layout->pageCollection();
        const std::vector<book::Outline> outlines =
            a.outline ? book::Outlines(driver->Selection(), page) : std::vector<book::Outline>();
        for (int index = 0; index < layoutPages.pageCount(); ++index) {
            // As QGIS's own export: an empty page the layout says to leave out is left out.
            if (!layoutPages.shouldExportPage(index)) continue;
            QImage image = exporter.renderPageToImage(index, QSize(), dpi);
            if (a.outline && !image.isNull()) {
                // Each item's outline on the picture of the layout page it stands on.
                std::vector<book::Outline> onPage;
                const auto& selected = driver->Selection().Elements();
                for (size_t i = 0; i < outlines.size() && i < selected.size(); ++i) {
                    const auto at = s.host->PageOf(selected[i].element);
                    if (at && at->index == index) onPage.push_back(outlines[i]);
                }
                const QRectF rect = layoutPages.page(index)->rect();
                QPainter painter(&image);
                drawing::PaintOutlines(painter, onPage, image.width() / rect.width(), rect.height());
            }
            const fs::path name = *a.png / book::PagePictureName(page, index + 1);
            QByteArray bytes;
            QBuffer buffer(&bytes);
            buffer.open(QIODevice::WriteOnly);
            if (image.isNull() || !image.save(&buffer, "PNG"))
                throw support::FileWriteError(name.string() + ": cannot draw the page picture of page " +
                                              std::to_string(page));
            support::WriteFileAtomically(name, std::string_view(bytes.constData(), static_cast<size_t>(bytes.size())),
                                         "Book");
        }
    };
    QgisHost& host = *s.host;
    const auto drawPage = [&](int32_t page) {
        if (!a.allow_missing) RefuseMissingPictures(a, *s.layout, page);
        if (a.png) writePictures(page);
    };
    AtlasSurface surface(host, *s.layout, atlas, AtlasSurface::Seek::ToPage, head, drawPage);
    driver = std::make_unique<book::BookDriver>(
        surface, NewAnchorManager, [&sink] { return sink.Count(); },
        [&host](const ComPtr<LayoutElement>& e) { return host.WhyMoveDoesNotHold(e); });
    const book::AnchorSelection& selection = driver->Selection();
    book::TellSelection(selection, "crvanchor-qgis", err);
    // An element QGIS places from data is a finding of every page, named once above.
    for (const auto& left : selection.LeftOutElements()) {
        const std::string why = host.WhyMoveDoesNotHold(left.element);
        if (!why.empty() && left.reason == why)
            driver->AddStandingFinding({book::CheckFinding::Kind::DataDefined, left.name, ""});
    }
    TellLayoutChecks(*s.layout, err);
    if (a.report) driver->StartReport(*a.report);
    driver->CheckOverlap(a.check_overlap);
    const double loading = std::chrono::duration<double>(Clock::now() - runStart).count();

    support::Progress progress(err, pages.Count());
    driver->OnPage([&progress, &pageDone, count = pages.Count()](size_t done, int32_t page) {
        progress.Step(done, page);
        if (pageDone && !pageDone(done, count))
            throw UsageError("stopped after " + std::to_string(done) + " of " + std::to_string(count) +
                             " pages: cancelled; the PDF was not written");
    });
    // One pass: each page is anchored once, then measured, drawn to its picture and, inside
    // QGIS's own PDF export, to the PDF.
    it = std::make_unique<AnchoredPages>(*s.layout, atlas, *driver, pages);
    if (a.pdf) {
        support::AtomicFile file(*a.pdf, "Book");
        QString error;
        const auto result = QgsLayoutExporter::exportToPdf(it.get(), QString::fromStdString(file.TempPath().string()),
                                                           QgsLayoutExporter::PdfExportSettings(), error);
        it->RethrowFailure();
        if (result != QgsLayoutExporter::Success)
            throw support::FileWriteError(
                a.pdf->string() + ": cannot write: " +
                (error.isEmpty() ? std::string("QGIS could not export the page") : error.toStdString()));
        // QGIS's writer does not see a full disk: what it wrote is read back before it replaces
        // the former PDF.
        if (const auto defect = support::PdfDefect(file.TempPath()))
            throw support::FileWriteError(a.pdf->string() + ": cannot write: the PDF written is not whole (" + *defect +
                                          "); the former file is left as it was");
        file.Commit();
    } else {
        it->beginRender();
        while (it->next()) {}
        it->endRender();
        it->RethrowFailure();
    }
    progress.Done();
    s.warnings.Tell(err);
    driver->Finish();
    if (a.save) s.Save(*a.save);

    book::BookEnd end{
        "crvanchor-qgis", a.project.string() + " (" + *a.layout + ")", {a.pdf, a.png, a.report, a.save}, a.strict, {}};
    // QGIS draws the PDF inside its exporter: the drawing is the rest of the run.
    if (a.timing)
        end.timing = book::BookEnd::Timing{std::chrono::duration<double>(Clock::now() - runStart).count(), loading, {}};
    return book::TellBookEnd(*driver, end, out, err);
}

int RunShow(CommandArgs a, std::ostream& out, std::ostream& err) {
    Session s(a, err);
    out << "Layout " << QuotedValue(*a.layout) << " of " << a.project.string() << "\n";
    book::WalkLayout(RunningApplication()->Document()->PageLayout(), [&](const ComPtr<LayoutElement>& e,
                                                                         const std::string& group) {
        const size_t depth = group.empty() ? 0 : 1 + static_cast<size_t>(std::count(group.begin(), group.end(), '/'));
        const auto record = book::AnchorRecordOf(e);
        const std::string name = e->Name();
        out << std::string(2 * depth, ' ') << std::left << std::setw(24) << (name.empty() ? "(unnamed)" : name) << " "
            << (record ? book::RecordSummary(record) : "-") << "\n";
    });
    const auto cycles = book::CycleLines(RunningApplication()->Document()->PageLayout());
    if (!cycles.empty()) out << "\n";
    for (const std::string& line : cycles) out << line << "; the atlas leaves it where it stands\n";
    return 0;
}

int RunAnchor(CommandArgs a, std::ostream& out, std::ostream& err) {
    const std::string& itemName = a.rest[0];
    const book::RecordChanges changes = book::ParseRecordChanges({a.rest.begin() + 1, a.rest.end()});
    Session s(a, err);
    const ComPtr<ElementContainer> layout = RunningApplication()->Document()->PageLayout();
    ComPtr<LayoutElement> element;
    book::WalkLayout(layout, [&](const ComPtr<LayoutElement>& e, const std::string&) {
        if (!element && e->Name() == itemName) element = e;
    });
    if (!element)
        throw UsageError("anchor: no item named " + QuotedValue(itemName) + " in the layout " + QuotedValue(*a.layout));
    book::CheckTargets(
        changes,
        [targets = book::ElementNames(layout)](const std::string& name) {
            return static_cast<bool>(targets.Find(name));
        },
        a.project.string());
    // The distances are read from the atlas's features: a name it lacks would fail only on export.
    if (const QgsLayoutAtlas* atlas = s.layout->atlas(); atlas != nullptr && atlas->coverageLayer() != nullptr) {
        std::vector<std::string> fields;
        for (const QgsField& f : atlas->coverageLayer()->fields()) fields.push_back(f.name().toStdString());
        book::CheckFieldNames(
            changes, fields, "the atlas's coverage layer " + QuotedValue(atlas->coverageLayer()->name().toStdString()));
    }
    auto manager = NewAnchorManager();
    const auto outcome = book::ApplyRecordChanges(*manager, element, changes);
    if (outcome == book::RecordEditOutcome::Reported) return 0;
    s.Save(a.project);
    out << book::RecordEditMessage(outcome, itemName, changes, a.project.string());
    if (const std::string warning = book::RecordCycleWarning(element); !warning.empty())
        err << "crvanchor-qgis: " << warning << "\n";
    return 0;
}

}  // namespace

QgsPrintLayout& FindPrintLayout(QgsProject& project, const std::optional<std::string>& name,
                                const std::string& projectName) {
    const QList<QgsPrintLayout*> layouts = project.layoutManager()->printLayouts();
    std::string names;
    for (const QgsPrintLayout* l : layouts) names += (names.empty() ? "" : ", ") + QuotedValue(l->name().toStdString());
    if (!name) {
        if (layouts.size() == 1) return *layouts.front();
        throw UsageError(layouts.isEmpty()
                             ? projectName + " has no print layout"
                             : "which print layout? " + projectName + " has " + names + " (--layout NAME)");
    }
    auto* layout = dynamic_cast<QgsPrintLayout*>(project.layoutManager()->layoutByName(QString::fromStdString(*name)));
    if (layout == nullptr) {
        throw UsageError("--layout " + QuotedValue(*name) + ": no print layout of that name in " + projectName +
                         (names.empty() ? " (it has none)" : " (it has " + names + ")"));
    }
    return *layout;
}

void SaveProject(QgsProject& project, const fs::path& path) {
    // QGIS chooses the format by the name's suffix: the temporary file keeps it, beside the
    // destination so that the layers' relative paths stay right. It names the project inside
    // a .qgz after the file's name up to its first dot, so the temporary name starts as the
    // destination's does, not with a dot.
    const fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    std::string temp =
        (folder / (path.stem().string() + ".crvanchor-save-XXXXXX" + path.extension().string())).string();
    const int fd = ::mkstemps(temp.data(), static_cast<int>(path.extension().string().size()));
    if (fd < 0) throw support::FileWriteError(path.string() + ": cannot create a temporary file beside it");
    ::close(fd);
    // QGIS keeps a backup "~" of a .qgs it writes over: here that is of the empty temporary file,
    // which goes with it.
    struct Remove {
        std::string p;
        ~Remove() {
            std::remove(p.c_str());
            std::remove((p + "~").c_str());
        }
    } remove{temp};
    if (!project.write(QString::fromStdString(temp)))
        throw support::FileWriteError(path.string() + ": cannot write: " + project.error().toStdString());
    std::ifstream in(temp, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    support::WriteFileAtomically(path, bytes.str(), "Project");
}

QuietStandardError::QuietStandardError() {
    std::fflush(stderr);
    saved_ = ::dup(STDERR_FILENO);
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null >= 0) {
        ::dup2(null, STDERR_FILENO);
        ::close(null);
    }
}

QuietStandardError::~QuietStandardError() {
    if (saved_ < 0) return;
    std::fflush(stderr);
    ::dup2(saved_, STDERR_FILENO);
    ::close(saved_);
}

int RunBookOnLayout(QgsPrintLayout& layout, const std::vector<std::string>& options, std::ostream& out,
                    std::ostream& err, const PageDone& pageDone) {
    StderrErrorSink sink;
    ScopedErrorSink scope(sink);
    return support::RunAtEdge("crvanchor-qgis", err, [&] {
        // The project and the layout are QGIS's, not words of a command line: a project file
        // named "show" is not the command.
        CommandArgs a;
        a.layout = layout.name().toStdString();
        if (layout.project() == nullptr) throw UsageError("the layout " + QuotedValue(*a.layout) + " has no project");
        // An unsaved project has no file to keep the outputs from.
        a.project = layout.project()->fileName().toStdString();
        ParseOptions(a, options, 0, true);
        if (a.save) throw UsageError("--save: the project is QGIS's to save");
        const int status = RunBook(a, out, err, sink, &layout, pageDone);
        return support::StatusAfterReports("crvanchor-qgis", sink.Count(), status, err);
    });
}

int RunCrvAnchorQgis(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    StderrErrorSink sink;
    ScopedErrorSink scope(sink);
    return support::RunAtEdge("crvanchor-qgis", err, [&] {
        if (args.empty()) throw UsageError("which project? (crvanchor-qgis --help tells more)");
        if (args[0] == "--help" || args[0] == "-h" || args[0] == "help") {
            out << kUsage;
            return 0;
        }
        CommandArgs a = ParseArgs(args);
        int status = 0;
        if (a.command == "book")
            status = RunBook(a, out, err, sink);
        else if (a.command == "show")
            status = RunShow(a, out, err);
        else if (a.command == "anchor")
            status = RunAnchor(a, out, err);
        else
            status = RunBake(a, out, err, [&sink] { return sink.Count(); });
        return support::StatusAfterReports("crvanchor-qgis", sink.Count(), status, err);
    });
}

}  // namespace crv::qgis
