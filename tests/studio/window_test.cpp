// The desktop window driven as a user drives it, offscreen: clicks and drags on the page, the
// property sheet's tabs and buttons, page steps, saving and opening.
#include "../propertypage/PageFixture.h"

#include "anchor/GeneralFunctions.h"
#include "propertypage/QtErrorSink.h"
#include "standalone/mapbook/Render.h"
#include "standalone/cli/Cli.h"
#include "standalone/studio/PropertySheet.h"
#include "standalone/studio/StudioWindow.h"
#include "standalone/tools/Registration.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QImage>
#include <QPainter>

#include <nlohmann/json.hpp>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <unistd.h>

namespace crv::testing {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using book::Placement;
using studio::PropertySheet;
using studio::StudioWindow;

const fs::path kSamples = fs::path(CRV_SOURCE_DIR) / "samples";

std::map<std::string, Rect> RectsByName(const std::vector<Placement>& placements) {
    std::map<std::string, Rect> out;
    for (const auto& p : placements) out[p.name] = p.rect;
    return out;
}

// The engine moves elements by differences, so the same place reached by another road may
// differ in the last bits.
::testing::AssertionResult SamePlaces(const std::map<std::string, Rect>& a, const std::map<std::string, Rect>& b) {
    if (a.size() != b.size()) return ::testing::AssertionFailure() << a.size() << " elements against " << b.size();
    for (const auto& [name, r] : a) {
        const auto it = b.find(name);
        if (it == b.end()) return ::testing::AssertionFailure() << name << " missing";
        const Rect& o = it->second;
        for (auto [x, y] : {std::pair{r.xmin, o.xmin}, {r.ymin, o.ymin}, {r.xmax, o.xmax}, {r.ymax, o.ymax}}) {
            if (std::abs(x - y) > 1e-9) {
                return ::testing::AssertionFailure()
                       << name << ": " << r.xmin << " " << r.ymin << " " << r.xmax << " " << r.ymax << " against "
                       << o.xmin << " " << o.ymin << " " << o.xmax << " " << o.ymax;
            }
        }
    }
    return ::testing::AssertionSuccess();
}

std::string Text(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class WindowTest : public ::testing::Test {
protected:
    WindowTest() {
        dir_ = fs::temp_directory_path() / ("crv-window-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (const char* f : {"lakes_atlas.json", "sheets.gpkg", "north_arrow.xpm"})
            fs::copy_file(kSamples / f, dir_ / f);
        sample_ = dir_ / "lakes_atlas.json";

        StudioWindow::Options options;
        options.errorsInMessageBoxes = false;
        options.complain = [this](const QString& title, const QString& text) {
            complaints_.push_back(title.toStdString() + ": " + text.toStdString());
        };
        window_ = std::make_unique<StudioWindow>(options);
        // Installing the page goes through the host's category registrar, which the window's
        // host serves.
        ::setenv("CRVANCHOR_REGISTRY", (dir_ / "registry.db").c_str(), 1);
        EXPECT_EQ(tools::RegisterServer(CRV_LIBRARY_PATH, false).code, 0);
        EXPECT_EQ(tools::InstallPage(true).code, 0);
        window_->resize(800, 900);
        window_->show();
        EXPECT_TRUE(window_->Open(sample_));
    }
    ~WindowTest() override {
        window_.reset();
        ClassTable::Instance().FreeUnusedLibraries();
        ::unsetenv("CRVANCHOR_REGISTRY");
        fs::remove_all(dir_);
    }

    ComPtr<LayoutElement> Named(const std::string& name) {
        ComPtr<LayoutElement> found;
        standalone::WalkElements(window_->Host().State().elements,
                                 [&](const ComPtr<LayoutElement>& e, const std::string&) {
                                     if (StandaloneHost::ElementOf(e).name() == name) found = e;
                                 });
        EXPECT_TRUE(found) << name;
        return found;
    }
    Rect Where(const std::string& name) { return StandaloneHost::ExtentOf(Named(name)); }
    QPoint OnView(double x, double y) { return window_->View()->ToWidget(x, y).toPoint(); }

    void Click(const std::string& name, Qt::KeyboardModifiers modifiers = {}) {
        const Rect r = Where(name);
        QTest::mouseClick(window_->View(), Qt::LeftButton, modifiers,
                          OnView((r.xmin + r.xmax) / 2, (r.ymin + r.ymax) / 2));
    }
    void Drag(const Rect& band) {
        PageView()->setFocus();
        const QPoint from = OnView(band.xmin, band.ymax);
        const QPoint to = OnView(band.xmax, band.ymin);
        QTest::mousePress(PageView(), Qt::LeftButton, {}, from);
        QTest::mouseMove(PageView(), (from + to) / 2);
        QTest::mouseMove(PageView(), to);
        QTest::mouseRelease(PageView(), Qt::LeftButton, {}, to);
    }
    QWidget* PageView() { return window_->View(); }

    std::vector<std::string> SelectedNames() {
        std::vector<std::string> out;
        for (const auto& e : window_->Selected()) out.push_back(StandaloneHost::ElementOf(e).name());
        return out;
    }
    std::unique_ptr<PropertySheet> Sheet() {
        auto sheet = window_->MakeSheet();
        EXPECT_TRUE(sheet);
        if (sheet) sheet->show();
        return sheet;
    }
    static void Type(PropertySheet& sheet, const char* box, const char* text) {
        auto* edit = sheet.findChild<QLineEdit*>(box);
        ASSERT_NE(edit, nullptr) << box;
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(edit, text);
    }
    static void Choose(PropertySheet& sheet, const char* box, int index) {
        auto* combo = sheet.findChild<QComboBox*>(box);
        ASSERT_NE(combo, nullptr) << box;
        combo->setCurrentIndex(index);
    }
    std::vector<std::pair<std::string, Variant>> Record(const std::string& name) {
        return ComPtr<objects::BagContents>::Query(GeneralFunctions::GetAnchorProperties(Named(name)))->Entries();
    }

    fs::path dir_;
    fs::path sample_;
    RecordingErrorSink sink_;
    ScopedErrorSink scope_{sink_};
    std::vector<std::string> complaints_;
    std::unique_ptr<StudioWindow> window_;
};

TEST_F(WindowTest, AClickSelectsAndTheAnchorPageIsOfferedOnlyForElementsWithARecord) {
    const struct {
        const char* element;
        std::vector<std::string> tabs;
    } cases[] = {
        {"Title", {"General", "Anchor"}},
        {"North Arrow", {"General", "Anchor"}},
        {"Main Map", {"General"}},  // a map frame without a record
    };
    for (const auto& c : cases) {
        Click(c.element);
        EXPECT_EQ(SelectedNames(), std::vector<std::string>{c.element});
        auto sheet = Sheet();
        ASSERT_TRUE(sheet);
        EXPECT_EQ(sheet->Titles(), c.tabs) << c.element;
        sheet->CancelButton()->click();
    }
    // A click on bare paper clears the selection, and the sheet has nothing to show.
    QTest::mouseClick(PageView(), Qt::LeftButton, {}, OnView(0.05, 0.05));
    EXPECT_TRUE(window_->Selected().empty());
    EXPECT_FALSE(window_->MakeSheet());
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(WindowTest, ShiftClickAddsAndRemovesAndARubberBandSelectsWhatItEncloses) {
    Click("Title");
    Click("Page Number", Qt::ShiftModifier);
    EXPECT_EQ(SelectedNames(), (std::vector<std::string>{"Title", "Page Number"}));
    Click("Title", Qt::ShiftModifier);
    EXPECT_EQ(SelectedNames(), std::vector<std::string>{"Page Number"});

    const Rect title = Where("Title");
    const Rect number = Where("Page Number");
    const double w = window_->Host().State().page_width, h = window_->Host().State().page_height;
    const struct {
        const char* what;
        Rect band;
        std::vector<std::string> selected;
    } cases[] = {
        {"round the title", title.Grown(0.05), {"Title"}},
        {"across half the title",
         {title.xmin - 0.05, title.ymin - 0.05, (title.xmin + title.xmax) / 2, title.ymax + 0.05},
         {}},
        {"round the whole page",
         {-0.1, -0.1, w + 0.1, h + 0.1},
         {"Main Map", "Title", "Survey Note", "North Arrow", "Legend", "Page Number"}},
        {"the bottom strip", {-0.1, -0.1, w + 0.1, number.ymax + 0.05}, {"Page Number"}},
    };
    for (const auto& c : cases) {
        Drag(c.band);
        EXPECT_EQ(SelectedNames(), c.selected) << c.what;
    }
    // The sheet of a selection of several shows the last one on its general page.
    Drag(title.Grown(0.05));
    Click("Page Number", Qt::ControlModifier);
    auto sheet = Sheet();
    EXPECT_EQ(sheet->findChild<QLineEdit*>("generalName")->text(), "Page Number");
    sheet->CancelButton()->click();
}

TEST_F(WindowTest, ApplyMovesTheElementOnThePageAndSaveKeepsItInTheDocument) {
    const Rect before = Where("Title");
    Click("Title");
    auto sheet = Sheet();
    sheet->ShowTab(1);
    Choose(*sheet, "cmbAnchorFromAll", 0);  // the element's top left ...
    Choose(*sheet, "cmbAnchorToAll", 0);  // ... on the page's top left
    Type(*sheet, "txtHDistanceAll", "0.25");
    ASSERT_TRUE(sheet->ApplyButton()->isEnabled());
    sheet->ApplyButton()->click();
    const Rect after = Where("Title");
    EXPECT_DOUBLE_EQ(after.xmin, 0.25);
    EXPECT_DOUBLE_EQ(after.ymax, before.ymax);
    EXPECT_DOUBLE_EQ(after.Width(), before.Width());
    sheet->OkButton()->click();
    EXPECT_TRUE(sink_.reports.empty());

    // The new rule holds on the next page too: the book took the edited record.
    window_->NextPage();
    EXPECT_DOUBLE_EQ(Where("Title").xmin, 0.25);
    window_->PreviousPage();

    const fs::path saved = dir_ / "saved.json";
    ASSERT_TRUE(window_->SaveAs(saved));
    EXPECT_EQ(window_->Doc().Path(), saved);
    const auto record = Record("Title");
    // Opened again from disk, the first page places the title by the saved rule.
    ASSERT_TRUE(window_->Open(sample_));
    EXPECT_NE(Where("Title").xmin, 0.25);
    ASSERT_TRUE(window_->Open(saved));
    EXPECT_EQ(Record("Title"), record);
    EXPECT_EQ(Where("Title"), after);
    EXPECT_TRUE(complaints_.empty());
}

TEST_F(WindowTest, CancelAfterEditsChangesNeitherTheRecordNorThePlace) {
    const Rect before = Where("North Arrow");
    const auto record = Record("North Arrow");
    Click("North Arrow");
    auto sheet = Sheet();
    sheet->ShowTab(1);
    Choose(*sheet, "cmbAnchorToAll", 6);
    Type(*sheet, "txtVDistanceAll", "1.5");
    EXPECT_TRUE(sheet->ApplyButton()->isEnabled());
    sheet->CancelButton()->click();
    EXPECT_EQ(Where("North Arrow"), before);
    EXPECT_EQ(Record("North Arrow"), record);
    window_->NextPage();
    window_->PreviousPage();
    EXPECT_EQ(Where("North Arrow"), before);
}

// Where the map book command puts every element on a page, run on the document as saved.
std::map<std::string, Rect> CommandPlacements(const fs::path& document, int page, const fs::path& report) {
    std::ostringstream out, err;
    const int status = standalone::RunCrvAnchor(
        {"book", document.string(), "--pages", std::to_string(page), "--report", report.string()}, out, err);
    EXPECT_EQ(status, 0) << err.str();
    const json j = json::parse(Text(report));
    std::map<std::string, Rect> rects;
    for (const auto& e : j["pages"][0]["elements"]) {
        const auto& a = e["rect"];
        rects[e["name"].get<std::string>()] =
            Rect{a[0].get<double>(), a[1].get<double>(), a[2].get<double>(), a[3].get<double>()};
    }
    return rects;
}

TEST_F(WindowTest, SteppingThroughPagesReanchorsEveryElementAsTheBookCommandDoes) {
    const auto first = RectsByName(window_->Book().surface.Measure(window_->Book().driver.Selection()));
    EXPECT_EQ(window_->CurrentPage(), 1);
    // Page 3 has no north arrow offsets in its sheet's fields; page 2 mirrors the page number.
    for (int page : {2, 3}) {
        window_->NextPage();
        ASSERT_EQ(window_->CurrentPage(), page);
        const auto shown = RectsByName(window_->Book().surface.Measure(window_->Book().driver.Selection()));
        EXPECT_TRUE(SamePlaces(shown, CommandPlacements(sample_, page, dir_ / "report.json"))) << "page " << page;
        EXPECT_FALSE(SamePlaces(shown, first));
    }
    window_->PreviousPage();
    window_->PreviousPage();
    EXPECT_TRUE(SamePlaces(RectsByName(window_->Book().surface.Measure(window_->Book().driver.Selection())), first));
    window_->PreviousPage();  // nothing before the first page
    EXPECT_EQ(window_->CurrentPage(), 1);
    window_->ShowPage(16);
    window_->NextPage();
    EXPECT_EQ(window_->CurrentPage(), 16);
    EXPECT_TRUE(sink_.reports.empty());
}

TEST_F(WindowTest, ASeriesWithoutFeaturesShowsTheLayoutWithoutSteppingPages) {
    {
        std::ofstream(dir_ / "empty.geojson") << R"({"type": "FeatureCollection", "features": []})";
        std::ofstream(dir_ / "empty.json")
            << R"({"format": "crvanchor-document", "version": 1, "page": {"width": 8, "height": 6},
          "elements": [{"type": "map_frame", "name": "Map", "outline": [1, 1, 7, 5], "series": {"dataset": "empty.geojson"}}]})";
    }
    ASSERT_TRUE(window_->Open(dir_ / "empty.json"));
    EXPECT_FALSE(window_->Book().surface.Range().HasPages());
    const std::vector<std::function<void()>> steps = {[&] { window_->NextPage(); }, [&] { window_->PreviousPage(); },
                                                      [&] { window_->ShowPage(3); }};
    for (const auto& step : steps) {
        step();
        EXPECT_EQ(window_->CurrentPage(), 1);
    }
    EXPECT_EQ(window_->findChild<QLabel*>("statusText")->text().toStdString(),
              "No pages: the map series has no features");
    EXPECT_TRUE(sink_.reports.empty());
    EXPECT_TRUE(complaints_.empty());
}

TEST_F(WindowTest, ASeriesDatasetSpoiltWhileOpenIsToldOnThePageNotACrash) {
    // Only the page's own row has been read so far; its neighbours' labels are read when drawn.
    std::ofstream(dir_ / "sheets.gpkg", std::ios::trunc | std::ios::binary) << "not a map";
    QImage shown;
    EXPECT_NO_THROW(shown = window_->grab().toImage());
    EXPECT_FALSE(shown.isNull());
}

TEST_F(WindowTest, ABadDocumentIsReportedAndLeavesTheWindowAsItWas) {
    window_->NextPage();
    Click("Legend");
    const auto placements = RectsByName(window_->Book().surface.Measure(window_->Book().driver.Selection()));
    std::ofstream(dir_ / "bad.json") << "{\"format\": \"crvanchor-document\", \"version\": 1, \"page\": ";
    std::ofstream(dir_ / "other.json") << "[1, 2]";
    for (const fs::path& bad : {dir_ / "bad.json", dir_ / "other.json", dir_ / "missing.json"}) {
        complaints_.clear();
        EXPECT_FALSE(window_->Open(bad));
        ASSERT_EQ(complaints_.size(), 1u) << bad;
        EXPECT_NE(complaints_[0].find("Cannot open the map document: " + bad.string()), std::string::npos)
            << complaints_[0];
        EXPECT_EQ(window_->Doc().Path(), sample_);
        EXPECT_EQ(window_->CurrentPage(), 2);
        EXPECT_EQ(SelectedNames(), std::vector<std::string>{"Legend"});
        EXPECT_EQ(RectsByName(window_->Book().surface.Measure(window_->Book().driver.Selection())), placements);
    }
    // The book still steps: it was not left behind by the failed open.
    window_->NextPage();
    EXPECT_EQ(window_->CurrentPage(), 3);
}

TEST_F(WindowTest, ABadDocumentIsToldInAWarningMessageBox) {
    window_.reset();
    StudioWindow::Options options;
    options.errorsInMessageBoxes = false;
    StudioWindow window(options);
    window.show();
    ASSERT_TRUE(window.Open(sample_));
    std::ofstream(dir_ / "bad.json") << "not a document";
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QTimer::singleShot(0, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        text = box->text();
        icon = box->icon();
        box->button(QMessageBox::Ok)->click();
    });
    EXPECT_FALSE(window.Open(dir_ / "bad.json"));
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_TRUE(text.startsWith(QString::fromStdString((dir_ / "bad.json").string() + ":1:"))) << text.toStdString();
    EXPECT_EQ(window.Doc().Path(), sample_);
}

TEST_F(WindowTest, GiveAnchorRecordMakesTheAnchorPageAvailable) {
    Click("Main Map");
    Click("Title", Qt::ShiftModifier);
    const auto title = Record("Title");
    EXPECT_EQ(window_->GiveAnchorRecord(), 1);  // the title keeps the record it has
    EXPECT_EQ(Record("Title"), title);
    EXPECT_TRUE(GeneralFunctions::HasAnchorProperties(Named("Main Map")));
    EXPECT_EQ(window_->GiveAnchorRecord(), 0);
    Click("Main Map");
    auto sheet = Sheet();
    EXPECT_EQ(sheet->Titles(), (std::vector<std::string>{"General", "Anchor"}));
    sheet->CancelButton()->click();
    // The record is part of the document from now on.
    ASSERT_TRUE(window_->Save());
    ASSERT_TRUE(window_->Open(sample_));
    EXPECT_TRUE(GeneralFunctions::HasAnchorProperties(Named("Main Map")));
    for (const auto& r : sink_.reports) ADD_FAILURE() << r.text;
}

TEST_F(WindowTest, ThePageIsDrawnAsTheBookCommandDrawsIt) {
    window_->ZoomToPage();
    const auto& s = window_->Host().State();
    const double scale = window_->View()->Scale();
    EXPECT_LE(s.page_height * scale, window_->centralWidget()->height());
    EXPECT_GT(s.page_height * scale, window_->centralWidget()->height() * 0.8);

    // The view's page area against the same page drawn by the shared drawing code at that scale.
    const QImage view = window_->View()->grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QPointF origin = window_->View()->ToWidget(0, s.page_height);
    QImage page(static_cast<int>(s.page_width * scale), static_cast<int>(s.page_height * scale), QImage::Format_RGB32);
    page.fill(Qt::white);
    {
        QPainter p(&page);
        standalone::DrawPage(p, window_->Doc(), window_->Book(), window_->CurrentPage(), scale);
    }
    const QImage cut = view.copy(QRect(origin.toPoint(), page.size()));
    int differing = 0;
    for (int y = 0; y < page.height(); ++y) {
        for (int x = 0; x < page.width(); ++x) differing += cut.pixel(x, y) != page.pixel(x, y);
    }
    EXPECT_LT(differing, page.width() * page.height() / 200);
}

TEST_F(WindowTest, ADoubleClickOpensTheSheetModallyAndOkRedrawsWithTheEdit) {
    bool seen = false;
    // The sheet blocks in its own event loop; answer it from there as a user would.
    QTimer::singleShot(0, [&] {
        auto* sheet = qobject_cast<PropertySheet*>(QApplication::activeModalWidget());
        if (sheet == nullptr) return;
        seen = true;
        auto* name = sheet->findChild<QLineEdit*>("generalName");
        QTest::keyClick(name, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClicks(name, "Folio");
        sheet->OkButton()->click();
    });
    const Rect r = Where("Page Number");
    QTest::mouseDClick(PageView(), Qt::LeftButton, {}, OnView((r.xmin + r.xmax) / 2, (r.ymin + r.ymax) / 2));
    EXPECT_TRUE(seen);
    EXPECT_EQ(StandaloneHost::ElementOf(window_->Selected().at(0)).name(), "Folio");
    EXPECT_NE(window_->findChild<QLabel*>("statusText")->text().indexOf("Selected: Folio"), -1);
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
}

TEST_F(WindowTest, TheWindowShowsErrorReportsInMessageBoxesWhileItLives) {
    ErrorSink* before = &CurrentErrorSink();
    {
        StudioWindow shown;
        EXPECT_NE(dynamic_cast<QtErrorSink*>(&CurrentErrorSink()), nullptr);
    }
    EXPECT_EQ(&CurrentErrorSink(), before);
}

// Two elements anchored to each other: paging leaves both where they stand, and the sheet of
// either says why above its anchor page, not on the host's own page.
TEST_F(WindowTest, AnElementInACycleOfAnchorsStaysAndItsSheetSaysWhy) {
    for (const auto& [element, target] : {std::pair{"Title", "Page Number"}, {"Page Number", "Title"}}) {
        std::ostringstream out, err;
        ASSERT_EQ(standalone::RunCrvAnchor({"anchor", sample_.string(), element, "AnchorType=NamedElement",
                                            std::string("ElementName=") + target},
                                           out, err),
                  0)
            << err.str();
    }
    ASSERT_TRUE(window_->Open(sample_));
    const Rect title = Where("Title");
    const Rect number = Where("Page Number");
    const Rect arrow = Where("North Arrow");
    window_->NextPage();
    EXPECT_TRUE(SamePlaces({{"Title", Where("Title")}, {"Page Number", Where("Page Number")}},
                           {{"Title", title}, {"Page Number", number}}));
    EXPECT_FALSE(SamePlaces({{"North Arrow", Where("North Arrow")}}, {{"North Arrow", arrow}}));

    const std::string cycle = R"(is in a cycle of anchors: "Title" → "Page Number" → "Title".)";
    for (const char* name : {"Title", "Page Number"}) {
        Click(name);
        auto sheet = Sheet();
        ASSERT_TRUE(sheet);
        ASSERT_EQ(sheet->Titles(), (std::vector<std::string>{"General", "Anchor"}));
        EXPECT_FALSE(sheet->Note()->isVisible()) << name;
        sheet->ShowTab(1);
        EXPECT_TRUE(sheet->Note()->isVisible()) << name;
        EXPECT_EQ(sheet->Note()->text().toStdString().rfind(std::string("\"") + name + "\" " + cycle, 0), 0u)
            << sheet->Note()->text().toStdString();
        sheet->CancelButton()->click();
    }
    Click("North Arrow");
    auto sheet = Sheet();
    sheet->ShowTab(1);
    EXPECT_FALSE(sheet->Note()->isVisible());
    sheet->CancelButton()->click();
    for (const auto& r : sink_.reports) ADD_FAILURE() << r.text;
}

}  // namespace
}  // namespace crv::testing
