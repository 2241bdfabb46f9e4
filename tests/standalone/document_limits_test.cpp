// Map documents that are hostile, broken or odd: each is refused in one line naming the file and
// the reason, and nothing on disk or in the host changes.
#include "standalone/Document.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace crv::testing {
namespace {

using standalone::Document;
using standalone::DocumentError;
using standalone::StandaloneHost;

const std::string kDocument = R"({"format": "crvanchor-document", "version": 1,
 "page": {"width": 8.5, "height": 11},
 "elements": [{"type": "text", "name": "Title", "rect": [1, 9, 7.5, 10], "text": "Atlas"}]})";

// The message a load gives, or "loaded".
std::string LoadMessage(const std::filesystem::path& path) {
    StandaloneHost host;
    Document doc(host);
    try {
        doc.Load(path);
    } catch (const DocumentError& e) {
        return e.what();
    }
    return "loaded";
}

TEST(DocumentLimits, RefusesWhatIsNoDocumentFileBeforeReadingIt) {
    TempDir dir;
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    std::filesystem::create_directory(dir / "folder");
    WriteText(dir / "huge.json", "");
    std::filesystem::resize_file(dir / "huge.json", standalone::kMaxDocumentBytes + 1);
    const std::string huge = ": larger than 64 MiB, the most a document may hold";
    const std::pair<std::filesystem::path, std::string> cases[] = {
        {"/dev/zero", "/dev/zero: a device, not a document file"},
        {dir / "pipe", (dir / "pipe").string() + ": a named pipe, not a document file"},
        {dir / "folder", (dir / "folder").string() + ": a folder, not a document file"},
        {dir / "huge.json", (dir / "huge.json").string() + huge},
    };
    for (const auto& [path, message] : cases) EXPECT_EQ(LoadMessage(path), message);

    StandaloneHost host;
    Document doc(host);
    EXPECT_THROW(doc.LoadText(std::string(standalone::kMaxDocumentBytes + 1, ' '), "big.json"), DocumentError);
}

}  // namespace
}  // namespace crv::testing
