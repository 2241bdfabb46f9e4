// Map documents that are hostile, broken or odd: each is refused in one line naming the file and
// the reason, and nothing on disk or in the host changes.
#include "standalone/document/Document.h"

#include "TempDir.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
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

std::string Repeat(const std::string& part, int times) {
    std::string out;
    for (int i = 0; i < times; ++i) out += part;
    return out;
}

// The message a refused save gives, or "saved".
std::string SaveMessage(Document& doc, const std::filesystem::path& path) {
    try {
        doc.Save(path);
    } catch (const DocumentError& e) {
        return e.what();
    }
    return "saved";
}

// The message LoadText gives, without the file name, or "loaded".
std::string TextMessage(const std::string& text) {
    StandaloneHost host;
    Document doc(host);
    try {
        doc.LoadText(text, "d.json");
    } catch (const DocumentError& e) {
        const std::string message = e.what();
        return message.rfind("d.json:", 0) == 0 ? message.substr(7) : message;
    }
    return "loaded";
}

const std::string kHead =
    "{\"format\": \"crvanchor-document\", \"version\": 1,\n \"page\": {\"width\": 8.5, \"height\": 11},\n";

TEST(DocumentLimits, RefusesWhatIsNestedTooDeeplyOrSaidTwice) {
    const auto groups = [](int n) {
        return kHead + " \"elements\": [" + Repeat("{\"type\": \"group\", \"members\": [", n) + Repeat("]}", n) + "]}";
    };
    const auto text = [](const std::string& element) {
        return R"({"type": "text", "rect": [0, 0, 1, 1])" + element + "}";
    };
    const struct {
        const char* what;
        std::string text;
        std::string message;
    } cases[] = {
        {"deep unknown member", kHead + " \"x\": " + Repeat("[", 20000) + Repeat("]", 20000) + ", \"elements\": []}",
         "3:518: arrays and objects nested more than 512 deep"},
        {"5000 groups", groups(5000), "3:7665: arrays and objects nested more than 512 deep"},
        {"65 groups", groups(65),
         "3:1935: /elements/0" + Repeat("/members/0", 64) + ": groups nested more than 64 deep"},
        {"64 groups", groups(64), "loaded"},
        {"repeated key", kHead + " \"elements\": [],\n \"page\": {}}", "4:2: duplicate key \"page\" in an object"},
        {"repeated key, escaped", kHead + " \"elements\": [" + text(R"(, "text": "a", "te\u0078t": "b")") + "]}",
         "3:67: duplicate key \"text\" in an object"},
        {"same text, other key", kHead + " \"elements\": [" + text(R"(, "x-a": "text", "x-b": "text")") + "]}",
         "loaded"},
        {"repeated element name",
         kHead + " \"elements\": [" + text(R"(, "name": "A")") + ", {\"type\": \"group\", \"members\": [" +
             text(R"(, "name": "A")") + "]}]}",
         "3:145: /elements/1/members/0/name: another element is named \"A\" (/elements/0)"},
        {"unnamed elements", kHead + " \"elements\": [" + text("") + ", " + text(R"(, "name": "")") + "]}", "loaded"},
        {"syntax before repeat", kHead + " \"elements\": [], \"elements\": [}",
         "3:31: syntax error while parsing value - unexpected '}'; expected '[', '{', or a literal"},
    };
    for (const auto& c : cases) EXPECT_EQ(TextMessage(c.text), c.message) << c.what;
}

TEST(DocumentLimits, KeepsNumbersAsWrittenThatADoubleCannotHold) {
    const std::string kept[] = {"18446744073709551616", "-98765432109876543210987654321", "0.1000000000000000000001",
                                "1e-400", "123456789012345678901234567890e-10"};
    std::string members;
    for (size_t i = 0; i < std::size(kept); ++i) members += "\"x-" + std::to_string(i) + "\": " + kept[i] + ", ";
    TempDir dir;
    WriteText(dir / "doc.json", kHead + members + R"("elements": [{"type": "text", "name": "T", "rect": [0, 0, 1, 1],
      "custom": {"kind": "double", "value": 1.00000000000000000000001, "x-n": [18446744073709551617]}}]})");
    StandaloneHost host;
    Document doc(host);
    doc.Load(dir / "doc.json");
    EXPECT_EQ(host.State().elements[0]->CustomProperty(), Variant(1.0));
    doc.Save(dir / "doc.json");
    const std::string saved = ReadText(dir / "doc.json");
    for (size_t i = 0; i < std::size(kept); ++i) {
        const char* after = i + 1 < std::size(kept) ? ",\n" : "\n";
        EXPECT_NE(saved.find("\"x-" + std::to_string(i) + "\": " + kept[i] + after), std::string::npos) << kept[i];
    }
    EXPECT_NE(saved.find("\"x-n\": [\n          18446744073709551617\n        ]"), std::string::npos) << saved;
    // Numbers a double holds are written as the JSON library writes them.
    EXPECT_NE(saved.find("\"width\": 8.5,"), std::string::npos);
    EXPECT_EQ(TextMessage("{\"format\": \"crvanchor-document\", \"version\": 18446744073709551616}"),
              "1:45: /version: expected a whole number from 1 to 1000000, found 18446744073709551616");
}

TEST(DocumentLimits, RefusesPageSizesAndRectanglesBeyondAnyPage) {
    const auto page = [](const std::string& size) {
        return "{\"format\": \"crvanchor-document\", \"version\": 1,\n \"page\": " + size + ",\n \"elements\": []}";
    };
    const auto rect = [](const std::string& element) { return kHead + " \"elements\": [" + element + "]}"; };
    const struct {
        std::string text;
        std::string message;
    } cases[] = {
        {page(R"({"width": 1e308, "height": 11})"), "2:20: /page/width: expected a page width from 0.01 to 400 inches"},
        {page(R"({"width": 8.5, "height": 1e-9})"),
         "2:35: /page/height: expected a page height from 0.01 to 400 inches"},
        {page(R"({"width": 1016.5, "height": 11, "units": "centimeters"})"),
         "2:20: /page/width: expected a page width from 0.0254 to 1016 centimeters"},
        {page(R"({"width": 28800, "height": 0.72, "units": "points"})"), "loaded"},
        {rect(R"({"type": "text", "rect": [0, 0, 1e308, 1]})"),
         "3:40: /elements/0/rect: expected coordinates from -4000 to 4000 inches"},
        {rect(R"({"type": "map_frame", "outline": [-4001, 0, 1, 1]})"),
         "3:48: /elements/0/outline: expected coordinates from -4000 to 4000 inches"},
        {rect(R"({"type": "map_frame", "outline": [0, 0, 1, 1], "border": 1e300})"),
         "3:72: /elements/0/border: expected a border width from 0 to 400 inches"},
        {rect(R"({"type": "text", "rect": [0, 0, 1, 1], "font_size": 1e9})"),
         "3:67: /elements/0/font_size: expected a size from 0 to 10000 points"},
    };
    for (const auto& c : cases) EXPECT_EQ(TextMessage(c.text), c.message) << c.text;

    // What could not be loaded again is not saved either.
    TempDir dir;
    WriteText(dir / "doc.json", kDocument);
    StandaloneHost host;
    Document doc(host);
    doc.Load(dir / "doc.json");
    standalone::StandaloneHost::Impl(host.State().elements[0]).Move(1e308, 0);
    EXPECT_EQ(
        SaveMessage(doc, dir / "doc.json"),
        (dir / "doc.json").string() + ": cannot save /elements/0/rect: expected coordinates from -4000 to 4000 inches");
    EXPECT_EQ(ReadText(dir / "doc.json"), kDocument);
}

TEST(DocumentLimits, TextThatIsNotUtf8IsRefusedWhereItEnters) {
    EXPECT_EQ(TextMessage(kHead + " \"elements\": [{\"type\": \"text\", \"text\": \"caf\xE9\"}]}"),
              "3:45: syntax error while parsing value - invalid string: ill-formed UTF-8 byte; last read: "
              "\"\\\"caf\\xE9\\\"\"");
    EXPECT_EQ(TextMessage(kHead + " \"elements\": [], \"x-\xFF\": 1}"),
              "3:21: syntax error while parsing object key - invalid string: ill-formed UTF-8 byte; last read: "
              "\"\\\"x-\\xFF\"; "
              "expected string literal");

    // A value set by a command, as the anchor command sets record values.
    TempDir dir;
    WriteText(dir / "doc.json", kDocument);
    StandaloneHost host;
    Document doc(host);
    doc.Load(dir / "doc.json");
    auto bag = MakeCom<PropertyBag, standalone::PropertyBagImpl>();
    bag->SetProperty("ElementName", Variant("caf\xE9\n"));
    host.State().elements[0]->SetCustomProperty(Variant(bag));
    EXPECT_EQ(SaveMessage(doc, dir / "doc.json"),
              (dir / "doc.json").string() +
                  ": cannot save /elements/0/custom/entries/0/value: text that is not UTF-8: \"caf\\xE9\\n\"");
    EXPECT_EQ(ReadText(dir / "doc.json"), kDocument);
}

TEST(DocumentLimits, ADocumentInAFolderNamedInLatin1LoadsAndSaves) {
    TempDir dir;
    const auto folder = dir / "caf\xE9";
    std::filesystem::create_directories(folder);
    std::filesystem::create_directories(dir / "out");
    WriteText(
        folder / "doc.json",
        kHead + R"( "elements": [{"type": "picture", "name": "P", "rect": [0, 0, 1, 1], "file": "swatch.png"}]})");
    StandaloneHost host;
    Document doc(host);
    doc.Load(folder / "doc.json");
    EXPECT_EQ(doc.StyleOf(host.State().elements[0]).picture, folder / "swatch.png");
    doc.Save(folder / "doc.json");
    EXPECT_NE(ReadText(folder / "doc.json").find("\"file\": \"swatch.png\""), std::string::npos);
    // From elsewhere the picture's path goes through the folder's name, which JSON cannot hold.
    EXPECT_EQ(SaveMessage(doc, dir / "out" / "doc.json"),
              (dir / "out" / "doc.json").string() +
                  ": cannot save /elements/0/file: text that is not UTF-8: \"../caf\\xE9/swatch.png\"");
    EXPECT_FALSE(std::filesystem::exists(dir / "out" / "doc.json"));
    // A message names such a file with its stray bytes escaped.
    EXPECT_EQ(LoadMessage(folder / "missing.json"),
              "\"" + dir.Path().string() + "/caf\\xE9/missing.json\": cannot open: No such file or directory");
}

TEST(DocumentLimits, MessagesShowDocumentTextQuotedAndCut) {
    const std::string mega(1 << 20, 'x');
    const auto type = [](const std::string& t) { return kHead + " \"elements\": [{\"type\": \"" + t + "\"}]}"; };
    const struct {
        std::string text;
        std::string shown;
    } cases[] = {
        {type("arr\\now"), "found \"arr\\now\""},
        {type("\\u001b[2Jarrow"), "found \"\\x1B[2Jarrow\""},
        {type(mega), "found \"" + mega.substr(0, 60) + "\"... (1048576 bytes)"},
        {kHead + " \"elements\": [], \"x\": \"" + mega + "\n\"}",
         "; last read: \"\\\"" + std::string(59, 'x') + "\"... ("},
    };
    for (const auto& c : cases) {
        const std::string message = TextMessage(c.text);
        EXPECT_NE(message.find(c.shown), std::string::npos) << message.substr(0, 300);
        EXPECT_LT(message.size(), 400u);
    }
}

TEST(DocumentLimits, TwoUpdatesOfOneDocumentBothLand) {
    TempDir dir;
    const auto path = dir / "doc.json";
    WriteText(path, kDocument);
    const auto append = [&](StandaloneHost& host, const std::string& more) {
        standalone::StandaloneHost::Impl(host.State().elements[0]).text += more;
    };
    // The second starts once the first holds the document, as a second command would.
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        int status = 1;
        char byte = 0;
        try {
            if (::read(go[0], &byte, 1) == 1) {
                StandaloneHost other;
                Document second(other);
                second.LoadForUpdate(path);  // waits for the first
                append(other, "+second");
                second.Save(path);
                status = 0;
            }
        } catch (...) {}
        ::_exit(status);
    }
    StandaloneHost host;
    auto doc = std::make_unique<Document>(host);
    doc->LoadForUpdate(path);
    ASSERT_EQ(::write(go[1], "x", 1), 1);
    // Give the second every chance to go first, as it would without the lock.
    ::usleep(300 * 1000);
    append(host, "+first");
    doc->Save(path);
    doc.reset();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ::close(go[0]);
    ::close(go[1]);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    StandaloneHost after;
    Document loaded(after);
    loaded.Load(path);
    EXPECT_EQ(standalone::StandaloneHost::Impl(after.State().elements[0]).text, "Atlas+first+second");
}

}  // namespace
}  // namespace crv::testing
