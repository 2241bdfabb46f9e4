// The book driver over the sample document: each page anchored once and drawn once, whether a
// loop of ours pushes the pages or a host's exporter pulls them.

#include "book/BookDriver.h"
#include "errors/ErrorHandling.h"
#include "standalone/mapbook/Book.h"
#include "standalone/mapbook/Surface.h"

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
        standalone::MapBook book(doc);
        book::BookDriver& driver = book.Driver();
        std::vector<int32_t> drawn;
        book.Surface().SetDrawing([&drawn](int32_t page) { drawn.push_back(page); });
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
        EXPECT_EQ(host.State().events.size(), 3 * 4 * book.AnchorOrder().size());
        reports.push_back(ReadAll(report));
    }
    EXPECT_EQ(reports[0], reports[1]);
    EXPECT_NE(reports[0].find("\"page\": 10"), std::string::npos);
    EXPECT_TRUE(sink.reports.empty());
}

}  // namespace
}  // namespace crv::testing
