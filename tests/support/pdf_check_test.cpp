// A PDF read back before it replaces anything: whole, cut short, or with an object missing,
// over files many times the size of the piece read at a time.
#include "support/PdfCheck.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace crv::testing {
namespace {

// A PDF of `objects` objects of about `padding` bytes each, cross-reference table and trailer
// as writers make them; `shift` moves the table's entry for object 3 by that many bytes.
std::string MakePdf(size_t objects, size_t padding, size_t shift = 0) {
    std::string pdf = "%PDF-1.4\n";
    std::vector<size_t> offsets;
    for (size_t i = 1; i <= objects; ++i) {
        offsets.push_back(pdf.size());
        pdf += std::to_string(i) + " 0 obj\n<< /Length " + std::to_string(padding) + " >>\nstream\n" +
               std::string(padding, 'x') + "\nendstream\nendobj\n";
    }
    const size_t xref = pdf.size();
    pdf += "xref\n0 " + std::to_string(objects + 1) + "\n0000000000 65535 f \n";
    for (size_t i = 1; i <= objects; ++i) {
        char entry[32];
        std::snprintf(entry, sizeof entry, "%010zu 00000 n \n", offsets[i - 1] + (i == 3 ? shift : 0));
        pdf += entry;
    }
    pdf += "trailer\n<< /Size " + std::to_string(objects + 1) + " >>\nstartxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

TEST(PdfCheck, ReadsFilesLargerThanItsBlocksWholeOrNot) {
    const std::string whole = MakePdf(40, 9000);  // about 360 KiB: objects across every block edge
    ASSERT_GT(whole.size(), 5u * 64 * 1024);
    struct Case {
        const char* what;
        std::string pdf;
        std::optional<std::string> defect;
    };
    const std::vector<Case> cases = {
        {"whole", whole, std::nullopt},
        {"blank lines after the end, over a block", whole + std::string(70000, '\n'), std::nullopt},
        {"an object not where the table says", MakePdf(40, 9000, 1), "object 3 is missing"},
        {"cut in the table", whole.substr(0, whole.size() - 600), "it is cut short (no end of file mark)"},
        {"cut after a block", whole.substr(0, 64 * 1024 + 10), "it is cut short (no end of file mark)"},
        {"nothing", "", "it does not start as a PDF does"},
        {"no offset", "%PDF-1.4\n%%EOF\n", "it is cut short (no cross-reference offset)"},
        {"an offset past the end", "%PDF-1.4\nstartxref\n99999\n%%EOF\n",
         "its cross-reference offset lies outside the file"},
    };
    TempDir dir;
    for (const auto& c : cases) {
        WriteText(dir / "book.pdf", c.pdf);
        EXPECT_EQ(support::PdfDefect(dir / "book.pdf"), c.defect) << c.what;
    }
    EXPECT_EQ(support::PdfDefect(dir / "absent.pdf"), "it cannot be read back");
}

}  // namespace
}  // namespace crv::testing
