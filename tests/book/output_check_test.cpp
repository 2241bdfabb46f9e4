// The outputs of both book commands checked by one function: what each refusal says, in the
// wording of each command.

#include "commands/OutputCheck.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <fstream>

namespace crv::testing {
namespace {

using commands::BookFiles;

TEST(OutputCheck, RefusesAnOutputThatIsAnInputOrAnotherOutputInEachCommandsWording) {
    TempDir dir;
    const std::filesystem::path doc = dir / "doc.json", data = dir / "page-002.png";
    std::ofstream(doc) << "{}";
    std::ofstream(data) << "x";
    const std::string d = dir.Path().string();
    struct Case {
        std::vector<BookFiles::File> outputs;
        BookFiles::Wording wording;
        std::optional<std::filesystem::path> png;
        std::string refusal;  // "" when nothing is refused
    };
    const std::vector<Case> cases = {
        {{{"--save", doc}}, BookFiles::Wording::SameFileAs, {}, ""},
        {{{"--report", dir / "." / "doc.json"}},
         BookFiles::Wording::SameFileAs,
         {},
         "--report \"" + d + "/./doc.json\": that is the document; nothing was written"},
        {{{"--pdf", dir / "o.pdf"}, {"--report", dir / "o.pdf"}},
         BookFiles::Wording::SameFileAs,
         {},
         "--report \"" + d + "/o.pdf\": the same file as --pdf; nothing was written"},
        {{{"--pdf", dir / "o.pdf"}, {"--report", dir / "o.pdf"}},
         BookFiles::Wording::ThatIsTheFile,
         {},
         "--report \"" + d + "/o.pdf\": that is the --pdf file; nothing was written"},
        {{}, BookFiles::Wording::SameFileAs, doc, "--png \"" + d + "/doc.json\": not a folder; nothing was written"},
        {{},
         BookFiles::Wording::SameFileAs,
         dir.Path(),
         "--png \"" + d + "\": its page picture page-002.png would replace the data; nothing was written"},
    };
    for (const Case& c : cases) {
        BookFiles files;
        files.inputs = {{"the document", doc, true}, {"the data", data}};
        files.outputs = c.outputs;
        files.wording = c.wording;
        files.png = c.png;
        files.png_pages = PageList(1, 3);
        std::string refusal;
        try {
            commands::CheckOutputs(files);
        } catch (const commands::OutputRefused& e) {
            refusal = e.what();
        }
        EXPECT_EQ(refusal, c.refusal);
    }
}

}  // namespace
}  // namespace crv::testing
