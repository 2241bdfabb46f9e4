// Records as a host stores them, through the core's C interface: an item's custom value as one
// text property per value (what a QGIS project holds today) or as one compact property, read into
// the description's tagged form and written back. Either form reads the same record.
#include "tests/core/CoreTestSupport.h"

#include <cstdio>
#include <fstream>
#include <functional>
#include <string>

namespace {

using namespace crv::coretest;

json Read(const json& properties) {
    char* out = nullptr;
    EXPECT_EQ(crv_record_read(properties.dump().c_str(), &out), CRV_OK) << crv_last_error();
    return Taken(out);
}

json Write(const json& custom, bool compact) {
    char* out = nullptr;
    EXPECT_EQ(crv_record_write(custom.dump().c_str(), compact ? 1 : 0, &out), CRV_OK) << crv_last_error();
    return Taken(out)["properties"];
}

// The sample's title's custom property, as the description tags it.
json SampleCustom(const char* element) {
    const json snapshot = json::parse(ReadText(Env("CRV_CORE_WORK") + "/snapshot.json"));
    for (const json& e : snapshot["elements"]) {
        if (e["name"] == element) return e["custom"];
    }
    ADD_FAILURE() << "no element " << element;
    return json();
}

const char* kPath = "crvanchor/CorvaneProperties/AnchorProperties/";

// A record as a QGIS project stores it today: the same record through both forms, both ways.
TEST(CoreRecords, BothStoredFormsReadTheSameRecord) {
    for (const char* element : {"Title", "North Arrow", "Page Number"}) {
        const json custom = SampleCustom(element);
        const json flat = Write(custom, false);
        const json compact = Write(custom, true);
        ASSERT_EQ(compact.size(), 1u) << element;
        EXPECT_EQ(compact["crvanchor"].get<std::string>().rfind("json:{\"CorvaneProperties\":", 0), 0u) << compact;
        EXPECT_GE(flat.size(), 25u) << flat;
        EXPECT_EQ(flat[std::string(kPath) + "AnchorElement"], "boolean:true") << element;

        const json fromFlat = Read(flat);
        const json fromCompact = Read(compact);
        EXPECT_EQ(fromFlat["form"], "properties");
        EXPECT_EQ(fromCompact["form"], "compact");
        // The compact form keeps the record's order; both hold the same values of the same kinds.
        EXPECT_EQ(fromCompact["custom"], custom) << element;
        EXPECT_EQ(Write(fromFlat["custom"], false), flat) << element;
        EXPECT_EQ(Write(fromCompact["custom"], false), flat) << element;
    }
}

// What the page and the anchor command write is kept with its kinds: a distance as the text
// the user typed, a code as a 16-bit number, a switch as a boolean; other tools' properties
// are left alone; no property is no record.
TEST(CoreRecords, ReadsEachValueAsItsKind) {
    const json props = {{std::string(kPath) + "HDistanceAll", "string:0.25"},
                        {std::string(kPath) + "AnchorToAll", "int16:8"},
                        {std::string(kPath) + "UseAltAnchoring", "boolean:false"},
                        {std::string(kPath) + "Version", "int32:1"},
                        {"crvanchor/Other/Empty", "bag:"},
                        {"labeling/size", "12"},
                        {"crvanchorish", 7}};
    const json read = Read(props);
    EXPECT_EQ(read["form"], "properties");
    const json& top = read["custom"]["entries"];
    ASSERT_EQ(top.size(), 2u) << read;
    EXPECT_EQ(top[0]["key"], "CorvaneProperties");
    const json& entries = top[0]["entries"][0]["entries"];
    const json expected = json::array({{{"kind", "int16"}, {"value", 8}, {"key", "AnchorToAll"}},
                                       {{"kind", "string"}, {"value", "0.25"}, {"key", "HDistanceAll"}},
                                       {{"kind", "boolean"}, {"value", false}, {"key", "UseAltAnchoring"}},
                                       {{"kind", "int32"}, {"value", 1}, {"key", "Version"}}});
    EXPECT_EQ(entries, expected);
    EXPECT_EQ(top[1], (json{{"kind", "bag"},
                            {"entries", json::array({{{"kind", "bag"}, {"entries", json::array()}, {"key", "Empty"}}})},
                            {"key", "Other"}}));
    EXPECT_EQ(Read(json{{"labeling/size", "12"}}), (json{{"form", "none"}, {"custom", {{"kind", "empty"}}}}));
}

// A record edited through the mirror is stored compact and reads back as it was given.
TEST(CoreRecords, AnEditedRecordRoundTripsCompact) {
    const Mirror m = Open(ReadText(Env("CRV_CORE_WORK") + "/snapshot.json"), "lakes_atlas.json");
    ASSERT_TRUE(m);
    const json edited = EditRecord(m.get(), "Legend", {"HDistanceAll=0.5", "AnchorPriority=HIGH"});
    const json stored = Write(edited["custom"], true);
    EXPECT_NE(stored["crvanchor"].get<std::string>().find("\"HDistanceAll\":\"double:0.5\""), std::string::npos)
        << stored;
    EXPECT_EQ(Read(stored)["custom"], edited["custom"]);
}

TEST(CoreRecords, RefusesWhatNoRecordHolds) {
    std::string deep = "json:";
    for (int i = 0; i < 70; ++i) deep += "{\"b\":";
    deep += "\"int16:1\"";
    for (int i = 0; i < 70; ++i) deep += "}";
    char* out = nullptr;
    const struct {
        const char* what;
        std::function<crv_status()> call;
        const char* message;
    } cases[] = {
        {"not JSON", [&] { return crv_record_read("{", &out); }, "crv_record_read: the properties are not JSON text"},
        {"not an object", [&] { return crv_record_read("[]", &out); },
         "crv_record_read: the properties must be a JSON object of names and texts"},
        {"a number of ours", [&] { return crv_record_read(R"({"crvanchor/a": 1})", &out); },
         "crv_record_read: the property \"crvanchor/a\" is not text; records are stored as text"},
        {"a compact text cut short", [&] { return crv_record_read(R"({"crvanchor": "json:{\"a\":"})", &out); },
         "crv_record_read: the compact record does not read: parse error"},
        {"a compact array", [&] { return crv_record_read(R"({"crvanchor": "json:[1]"})", &out); },
         "crv_record_read: the compact record is not a bag (a JSON object)"},
        {"a compact number", [&] { return crv_record_read(R"({"crvanchor": "json:{\"a\":{\"b\":1}}"})", &out); },
         "crv_record_read: the compact record /a/b is neither a bag (an object) nor a \"<kind>:<text>\" value"},
        {"compact bags 70 deep", [&] { return crv_record_read(json{{"crvanchor", deep}}.dump().c_str(), &out); },
         "crv_record_read: the compact record holds bags nested more than 64 deep"},
        {"a value of no kind", [&] { return crv_record_write(R"({"kind": "colour"})", 1, &out); },
         "crv_record_write: the custom value does not read: /kind: "},
        {"an int16 too large", [&] { return crv_record_write(R"({"kind": "int16", "value": 70000})", 0, &out); },
         "crv_record_write: the custom value does not read: /value: expected a whole number from -32768 to 32767"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.call(), CRV_REFUSED) << c.what;
        EXPECT_EQ(out, nullptr) << c.what;
        EXPECT_NE(std::string(crv_last_error()).find(c.message), std::string::npos) << c.what << ": " << crv_last_error();
    }
}

}  // namespace

namespace {

// A PDF of two objects and its cross-reference table, offsets as a writer gives them.
std::string SmallPdf() {
    std::string pdf = "%PDF-1.4\n";
    const size_t first = pdf.size();
    pdf += "1 0 obj\n<< /Type /Catalog /Pages 2 0 R >>\nendobj\n";
    const size_t second = pdf.size();
    pdf += "2 0 obj\n<< /Type /Pages /Kids [] /Count 0 >>\nendobj\n";
    const size_t xref = pdf.size();
    char entries[64];
    std::snprintf(entries, sizeof entries, "%010zu 00000 n \n%010zu 00000 n \n", first, second);
    pdf += "xref\n0 3\n0000000000 65535 f \n" + std::string(entries) + "trailer\n<< /Size 3 /Root 1 0 R >>\n";
    pdf += "startxref\n" + std::to_string(xref) + "\n%%EOF\n";
    return pdf;
}

std::string Defect(const std::string& bytes) {
    const std::string path = ::testing::TempDir() + "crv-core-pdf-defect.pdf";
    std::ofstream(path, std::ios::binary) << bytes;
    char* out = nullptr;
    EXPECT_EQ(crv_pdf_defect(path.c_str(), &out), CRV_OK) << crv_last_error();
    std::string said = out != nullptr ? out : "(none)";
    crv_free(out);
    std::remove(path.c_str());
    return said;
}

}  // namespace

// The check a host makes of the PDF its exporter wrote, before it replaces the former one: a
// whole PDF passes, one cut short anywhere does not.
TEST(CoreRecords, TellsAPdfCutShortFromAWholeOne) {
    const std::string pdf = SmallPdf();
    EXPECT_EQ(Defect(pdf), "");
    for (const double part : {0.0, 0.03, 0.5, 0.9, 0.99}) {
        EXPECT_NE(Defect(pdf.substr(0, static_cast<size_t>(static_cast<double>(pdf.size()) * part))), "") << part;
    }
    // An object moved from where the table says it starts.
    std::string moved = pdf;
    moved.replace(moved.find("2 0 obj"), 1, " ");
    EXPECT_NE(Defect(moved), "");
}
