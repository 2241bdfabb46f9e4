// Files replaced whole: through symbolic links, and with what killed writers left behind.
#include "support/AtomicFile.h"

#include "TempDir.h"
#include "support/Errors.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <set>

namespace crv::testing {
namespace {

namespace fs = std::filesystem;
using support::WriteFileAtomically;

TEST(AtomicFile, WritesThroughASymbolicLinkToItsTarget) {
    TempDir dir;
    fs::create_directory(dir / "real");
    WriteText(dir / "real" / "doc.json", "old");
    fs::create_symlink("real/doc.json", dir / "link.json");
    fs::create_symlink(dir / "link.json", dir / "chain.json");
    fs::create_symlink("real/new.json", dir / "dangling.json");
    const std::pair<const char*, fs::path> writes[] = {{"link.json", dir / "real" / "doc.json"},
                                                       {"chain.json", dir / "real" / "doc.json"},
                                                       {"dangling.json", dir / "real" / "new.json"}};
    for (const auto& [link, target] : writes) {
        WriteFileAtomically(dir / link, link, "Test");
        EXPECT_TRUE(fs::is_symlink(dir / link)) << link;
        EXPECT_EQ(ReadText(target), link);
    }
    // No temporary file beside the links.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 4);
}

// What a replacement would wrongly replace is refused, and every name keeps what it had: one name
// of a file with several (the others would keep the old content), and anything that is not a
// regular file (a pipe or a device would become a file), also behind a symbolic link.
TEST(AtomicFile, RefusesWhatIsNotOneRegularFile) {
    TempDir dir;
    WriteText(dir / "doc.json", "old");
    fs::create_hard_link(dir / "doc.json", dir / "other.json");
    ASSERT_EQ(::mkfifo((dir / "pipe").c_str(), 0600), 0);
    fs::create_symlink("pipe", dir / "to-pipe");
    fs::create_directory(dir / "folder");
    const struct {
        const char* name;
        const char* message;
    } cases[] = {
        {"doc.json", "cannot replace it: it is one of 2 hard links to one file"},
        {"pipe", "cannot replace it: not a regular file"},
        {"to-pipe", "cannot replace it: not a regular file"},
        {"folder", "cannot replace it: not a regular file"},
    };
    for (const auto& c : cases) {
        std::string message = "written";
        try {
            WriteFileAtomically(dir / c.name, "new", "Test");
        } catch (const support::FileWriteError& e) {
            message = e.what();
        }
        EXPECT_NE(message.find(c.message), std::string::npos) << c.name << ": " << message;
    }
    EXPECT_EQ(ReadText(dir / "doc.json"), "old");
    EXPECT_EQ(ReadText(dir / "other.json"), "old");
    EXPECT_EQ(fs::status(dir / "pipe").type(), fs::file_type::fifo);
    EXPECT_TRUE(fs::is_directory(dir / "folder"));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 5);  // no temporary file left
}

TEST(AtomicFile, RemovesOnlyTheTemporaryFilesOfKilledWriters) {
    TempDir dir;
    const auto old = [&](const std::string& name) {
        const timespec times[2] = {{0, UTIME_OMIT}, {::time(nullptr) - 3600, 0}};
        ::utimensat(AT_FDCWD, (dir / name).c_str(), times, AT_SYMLINK_NOFOLLOW);
    };
    const std::vector<std::string> files = {".doc.json.AbC123", ".doc.json.Fresh1",     ".doc.json.Locked",
                                            ".doc.json.abc12",  ".doc.json.ABCDEF.bak", ".other.json.ABCDEF",
                                            "doc.json.ABCDEF"};
    for (const auto& f : files) {
        WriteText(dir / f, "left");
        if (f != ".doc.json.Fresh1") old(f);
    }
    fs::create_directory(dir / ".doc.json.Dir123");
    fs::create_symlink(dir / ".doc.json.AbC123", dir / ".doc.json.Lnk123");
    old(".doc.json.Lnk123");
    // A writer still at work holds a lock on its file.
    const int held = ::open((dir / ".doc.json.Locked").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);

    WriteFileAtomically(dir / "doc.json", "new", "Test");
    ::close(held);
    std::set<std::string> left;
    for (const auto& e : fs::directory_iterator(dir.Path())) left.insert(e.path().filename().string());
    const std::set<std::string> expected = {"doc.json",        ".doc.json.Fresh1",     ".doc.json.Locked",
                                            ".doc.json.abc12", ".doc.json.ABCDEF.bak", ".other.json.ABCDEF",
                                            "doc.json.ABCDEF", ".doc.json.Dir123",     ".doc.json.Lnk123"};
    EXPECT_EQ(left, expected);
}

}  // namespace
}  // namespace crv::testing
