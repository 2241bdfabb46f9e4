// The book driver over the sample document: each page anchored once and drawn once, whether a
// loop of ours pushes the pages or a host's exporter pulls them.

#include "book/BookDriver.h"
#include "errors/ErrorHandling.h"
#include "standalone/mapbook/Book.h"
#include "standalone/mapbook/Surface.h"

#include "anchor/CRVAnchorManager.h"
#include "support/Activation.h"

#include "standalone/ComponentRegistry.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace crv::testing {
namespace {

std::string ReadAll(const std::filesystem::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(BookDriver, AnchorsAndDrawsEachPageOnceWhetherPushedOrPulled) {
    RegisterComponentOnce();
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    TempDir dir;
    std::vector<std::string> reports;
    for (const bool pulled : {false, true}) {
        standalone::StandaloneHost host;
        standalone::Document doc(host);
        doc.Load(std::filesystem::path(CRV_SOURCE_DIR) / "samples" / "lakes_atlas.json");
        standalone::DocumentBook book(doc);
        book::BookDriver& driver = book.driver;
        std::vector<int32_t> drawn;
        book.surface.SetDrawing([&drawn](int32_t page) { drawn.push_back(page); });
        const std::filesystem::path report = dir / (pulled ? "pulled.json" : "pushed.json");
        driver.StartReport(report);
        host.State().log_events = true;
        const PageList pages({{9, 10}, {2, 3}});
        if (pulled) {
            // As QGIS's exporter does: next(), then it draws the page in force.
            ASSERT_TRUE(driver.Begin(pages));
            while (driver.Next()) EXPECT_EQ(drawn.back(), driver.Cursor().Page());
            driver.End();
        } else {
            driver.Run(pages);
        }
        driver.Finish();
        EXPECT_EQ(drawn, (std::vector<int32_t>{2, 3, 9, 10}));
        // Each placement moves, updates and redraws its element once.
        EXPECT_EQ(host.State().events.size(), 3 * 4 * book.driver.Selection().Elements().size());
        reports.push_back(ReadAll(report));
    }
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_NE(reports[0].find("\"page\": 10"), std::string::npos);
    EXPECT_TRUE(sink.reports.empty());
}

// A page the host cannot show ends the book there: nothing of it or after it is placed,
// reported or drawn, and the report is still whole.
TEST(BookDriver, APageTheHostCannotShowEndsTheBookThere) {
    RegisterComponentOnce();
    RecordingErrorSink sink;
    ScopedErrorSink scope(sink);
    TempDir dir;
    standalone::StandaloneHost host;
    standalone::Document doc(host);
    doc.Load(std::filesystem::path(CRV_SOURCE_DIR) / "samples" / "lakes_atlas.json");
    struct Refusing final : book::BookSurface {
        standalone::DocumentSurface& inner;
        std::vector<int32_t> drawn;
        explicit Refusing(standalone::DocumentSurface& s) : inner(s) {}
        bool PutPageInForce(int32_t page) override { return page != 4 && inner.PutPageInForce(page); }
        std::vector<book::Placement> Measure(const book::AnchorSelection& s) const override { return inner.Measure(s); }
        std::pair<double, double> PageSize() const override { return inner.PageSize(); }
        book::ReportHead Head() const override { return inner.Head(); }
        void DrawPage(int32_t page) override { drawn.push_back(page); }
    };
    standalone::DocumentSurface documentSurface(doc);
    Refusing surface(documentSurface);
    book::BookDriver driver(surface,
                            [] { return CreateObjectByProgId<_CRVAnchorManager>(support::kAnchorManagerProgId); });
    driver.StartReport(dir / "report.json");
    host.State().log_events = true;
    driver.Run(PageList(2, 6));
    driver.Finish();
    EXPECT_EQ(surface.drawn, (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(driver.PagesDone(), 2u);
    EXPECT_EQ(host.State().events.size(), 3 * 2 * driver.Selection().Elements().size());
    const std::string report = ReadAll(dir / "report.json");
    EXPECT_NE(report.find("\"page\": 3"), std::string::npos);
    EXPECT_EQ(report.find("\"page\": 4"), std::string::npos);
    EXPECT_NE(report.find("\"error_reports\""), std::string::npos) << "the report is closed";
}

}  // namespace
}  // namespace crv::testing
