#include "standalone/document/SeriesSource.h"

#include "support/TempDir.h"
#include "errors/ComError.h"

#include <gdal.h>
#include <ogrsf_frmts.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>

namespace crv::testing {
namespace {

using objects::SeriesData;
using standalone::ReadIndexLayer;
using standalone::SeriesSourceError;

struct FieldDef {
    const char* name;
    OGRFieldType type;
    OGRFieldSubType subtype = OFSTNone;
};

const FieldDef kFields[] = {
    {"small", OFTInteger, OFSTInt16},
    {"whole", OFTInteger},
    {"big", OFTInteger64},
    {"single", OFTReal, OFSTFloat32},
    {"dbl", OFTReal},
    {"txt", OFTString},
    {"day", OFTDate},
    {"stamp", OFTDateTime},
    {"clock", OFTTime},
    {"flag", OFTInteger, OFSTBoolean},
};

struct Sheet {
    int page;  // value of "whole", the order field in the tests
    double x, y;  // lower left corner of a 10 x 10 square
    bool nulls;  // every field but "whole" left null
};

void SetValues(OGRFeature& f, const Sheet& s) {
    f.SetField("whole", s.page);
    if (!s.nulls) {
        f.SetField("small", -12);
        f.SetField("big", static_cast<GIntBig>(123456));
        f.SetField("single", 0.5);
        f.SetField("dbl", -0.125);
        f.SetField("txt", "NY 31");
        f.SetField("day", 2024, 5, 17);
        f.SetField("stamp", 2024, 5, 17, 8, 30, 15.0f, 0);
        f.SetField("clock", 0, 0, 0, 8, 30, 15.0f, 0);
        f.SetField("flag", 1);
    } else {
        for (int i = 0; i < f.GetFieldCount(); ++i) {
            if (i != f.GetFieldIndex("whole")) f.SetFieldNull(i);
        }
    }
    OGRGeometry* square = nullptr;
    OGRGeometryFactory::createFromWkt(CPLSPrintf("POLYGON((%g %g,%g %g,%g %g,%g %g,%g %g))", s.x, s.y, s.x + 10, s.y,
                                                 s.x + 10, s.y + 10, s.x, s.y + 10, s.x, s.y),
                                      nullptr, &square);
    f.SetGeometryDirectly(square);
}

// Feature order 3, 1, 2 so that ordering by "whole" is visible; page 2 holds the nulls.
const Sheet kSheets[] = {{3, 20, 0, false}, {1, 0, 0, false}, {2, 10, 0, true}};

// The format follows the file's extension.
std::filesystem::path MakeDataset(const std::filesystem::path& dir, const char* file,
                                  std::vector<const char*> layerOptions = {}) {
    const auto path = dir / file;
    GDALDriver* driver = GDALDriver::FromHandle(
        static_cast<GDALDriverH>(standalone::VectorDriverForExtension(path.extension().string().substr(1))));
    if (driver == nullptr) throw std::runtime_error("no driver writes " + path.extension().string());
    // Formats that lack a kind say so on standard error; the expectations below cover it.
    CPLPushErrorHandler(CPLQuietErrorHandler);
    const std::unique_ptr<void, void (*)(void*)> pop(nullptr, [](void*) { CPLPopErrorHandler(); });
    GDALDatasetUniquePtr ds(driver->Create(path.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
    if (!ds) throw std::runtime_error("cannot create " + path.string());
    layerOptions.push_back(nullptr);
    OGRLayer* layer = ds->CreateLayer("sheets", nullptr, wkbPolygon, const_cast<char**>(layerOptions.data()));
    for (const auto& def : kFields) {
        OGRFieldDefn fd(def.name, def.type);
        fd.SetSubType(def.subtype);
        // A format without the kind refuses the field; the expectations say which.
        [[maybe_unused]] const OGRErr created = layer->CreateField(&fd);
    }
    for (const Sheet& s : kSheets) {
        OGRFeatureUniquePtr f(OGRFeature::CreateFeature(layer->GetLayerDefn()));
        SetValues(*f, s);
        if (layer->CreateFeature(f.get()) != OGRERR_NONE) throw std::runtime_error("cannot write a feature");
    }
    return path;
}

int32_t TypeOf(const SeriesData& d, const std::string& name) {
    for (const auto& f : d.fields) {
        if (f.name == name) return f.type;
    }
    return -1;
}

Variant ValueOf(const SeriesData& d, size_t page, const std::string& name) {
    for (size_t i = 0; i < d.fields.size(); ++i) {
        if (d.fields[i].name == name) return d.Value(page, i);
    }
    return Variant("<no field>");
}

TEST(SeriesSource, MapsFieldTypesOfEachFormatToHostCodes) {
    struct Case {
        const char* file;
        std::vector<const char*> options;
        const char* fid;
        // Host type code per field, as each format keeps the field.
        std::map<std::string, int32_t> types;
    };
    const Case cases[] = {
        {"sheets.gpkg",
         {},
         "fid",
         {{"small", 0},
          {"whole", 1},
          {"big", 1},
          {"single", 2},
          {"dbl", 3},
          {"txt", 4},
          {"day", 5},
          {"stamp", 5},
          {"clock", 4} /* no time type: kept as text */,
          {"flag", 1}}},
        {"sheets.shp",
         {},
         "OBJECTID",
         {{"small", 1} /* no 16-bit kind */,
          {"whole", 1},
          {"big", 1},
          {"single", 3} /* no single kind */,
          {"dbl", 3},
          {"txt", 4},
          {"day", 5},
          {"stamp", 5},
          {"clock", -1} /* no time kind: not created */,
          {"flag", 1}}},
        {"sheets.geojson",
         {},
         "OBJECTID",
         {{"small", 1},
          {"whole", 1},
          {"big", 1},
          {"single", 3} /* plain JSON numbers */,
          {"dbl", 3},
          {"txt", 4},
          {"day", 5},
          {"stamp", 5},
          {"clock", 5},
          {"flag", 1}}},
        {"sheets.csv",
         {"GEOMETRY=AS_WKT", "CREATE_CSVT=YES"},
         "OBJECTID",
         {{"small", 0},
          {"whole", 1},
          {"big", 1},
          {"single", 2},
          {"dbl", 3},
          {"txt", 4},
          {"day", 5},
          {"stamp", 5},
          {"clock", 5},
          {"flag", 1}}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const auto path = MakeDataset(dir.Path(), c.file, c.options);
        const SeriesData d = ReadIndexLayer({path, "", "whole"});
        EXPECT_EQ(TypeOf(d, c.fid), fieldtype::kObjectId) << c.file;
        for (const auto& [name, code] : c.types) EXPECT_EQ(TypeOf(d, name), code) << c.file << " " << name;

        // Pages in the order of "whole"; their features' envelopes and values came along.
        ASSERT_EQ(d.PageCount() + d.envelopes.size(), 6u) << c.file;
        for (size_t page = 0; page < 3; ++page) {
            EXPECT_EQ(CLng(ValueOf(d, page, "whole")), static_cast<int32_t>(page + 1)) << c.file;
            EXPECT_EQ(d.envelopes[page].xmin, 10.0 * static_cast<double>(page)) << c.file;
            EXPECT_EQ(d.envelopes[page].ymax, 10.0) << c.file;
        }
        EXPECT_EQ(ValueOf(d, 0, "txt"), Variant("NY 31")) << c.file;
        EXPECT_EQ(CDbl(ValueOf(d, 0, "dbl")), -0.125) << c.file;
        EXPECT_EQ(CDbl(ValueOf(d, 0, "single")), 0.5) << c.file;
        EXPECT_EQ(CLng(ValueOf(d, 0, "big")), 123456) << c.file;
        EXPECT_EQ(ValueOf(d, 0, "day"), Variant("2024-05-17")) << c.file;
        // A boolean is 1 or 0, as the QGIS host gives it too.
        EXPECT_EQ(ValueOf(d, 0, "flag"), Variant(int32_t{1})) << c.file;
        if (TypeOf(d, "small") == fieldtype::kSmallInteger) {
            EXPECT_EQ(ValueOf(d, 0, "small"), Variant(int16_t{-12})) << c.file;
        }
        if (TypeOf(d, "stamp") == fieldtype::kDate && std::string(c.file) != "sheets.shp") {
            EXPECT_EQ(ValueOf(d, 0, "stamp"), Variant("2024-05-17T08:30:15")) << c.file;
        }
        // Nulls stay null, except where the format cannot tell them apart: CSV writes a null
        // text as an empty one.
        for (const auto& [name, code] : c.types) {
            if (code < 0 || std::string(name) == "whole") continue;
            const Variant v = ValueOf(d, 1, name);
            if (std::string(c.file) == "sheets.csv" && std::string(name) == "txt") {
                EXPECT_EQ(v, Variant("")) << c.file;
            } else {
                EXPECT_TRUE(v.IsNull()) << c.file << " " << name << " is " << Variant::TypeName(v.Type());
            }
        }
    }
}

TEST(SeriesSource, FeatureOrderAndWideIntegers) {
    TempDir dir;
    const auto path = MakeDataset(dir.Path(), "sheets.gpkg");
    const SeriesData d = ReadIndexLayer({path, "sheets", ""});
    ASSERT_EQ(d.PageCount(), 3u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(ValueOf(d, i, "whole"), Variant(int32_t{kSheets[i].page}));
        EXPECT_EQ(ValueOf(d, i, "fid"), Variant(static_cast<int32_t>(i + 1)));
    }

    // A 64-bit integer field holding a value the host cannot keep in 32 bits becomes double.
    {
        GDALDatasetUniquePtr ds(GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_UPDATE));
        OGRFeatureUniquePtr f(ds->GetLayerByName("sheets")->GetFeature(1));
        f->SetField("big", static_cast<GIntBig>(1) << 40);
        ASSERT_EQ(ds->GetLayerByName("sheets")->SetFeature(f.get()), OGRERR_NONE);
    }
    const SeriesData wide = ReadIndexLayer({path, "sheets", ""});
    EXPECT_EQ(TypeOf(wide, "big"), fieldtype::kDouble);
    EXPECT_EQ(ValueOf(wide, 0, "big"), Variant(1099511627776.0));
    EXPECT_EQ(ValueOf(wide, 2, "big"), Variant::Null());
}

TEST(SeriesSource, SaysWhichDatasetLayerOrFieldIsMissingAndRefusesWhatIsNoFile) {
    TempDir dir;
    const auto path = MakeDataset(dir.Path(), "sheets.gpkg");
    WriteText(dir / "notes.txt", "not a map");
    const auto fifo = dir / "pipe.gpkg";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // Some formats are a folder of files.
    std::filesystem::create_directory(dir / "shapes");
    MakeDataset(dir / "shapes", "sheets.shp");
    // What may not be read: a file, and a file in a folder that may not be entered.
    for (const char* sub : {"unreadable", "locked"}) std::filesystem::create_directory(dir / sub);
    const auto unreadable = MakeDataset(dir / "unreadable", "sheets.gpkg");
    std::filesystem::permissions(unreadable, std::filesystem::perms::none);
    const auto locked = MakeDataset(dir / "locked", "sheets.gpkg");
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::none);
    std::filesystem::permissions(dir.Path(), std::filesystem::perms::all);
    const std::string neither = " is neither a regular file nor a folder";
    const std::vector<std::pair<standalone::SeriesRequest, std::string>> cases = {
        {{dir / "none.gpkg", "", ""}, "map series dataset not found: " + (dir / "none.gpkg").string()},
        {{dir / "notes.txt", "", ""},
         "cannot open map series dataset " + (dir / "notes.txt").string() + " as vector data"},
        {{path, "roads", ""}, "map series dataset " + path.string() + " has no layer named roads"},
        {{path, "sheets", "Whole"},
         "map series layer sheets in " + path.string() + " has no page order field named Whole"},
        {{fifo, "", ""}, "map series dataset " + fifo.string() + neither},
        {{"/dev/zero", "", ""}, "map series dataset /dev/zero" + neither},
        {{dir / "shapes", "sheets", "whole"}, "3 pages"},
        {{unreadable, "", ""}, "cannot open map series dataset " + unreadable.string() + ": Permission denied"},
        {{locked, "", ""}, "cannot open map series dataset " + locked.string() + ": Permission denied"},
    };
    // Root may read whatever the modes say: these reads run as an ordinary user.
    struct OrdinaryUser {
        const bool root = ::geteuid() == 0;
        OrdinaryUser() { EXPECT_TRUE(!root || ::seteuid(65534) == 0); }
        ~OrdinaryUser() { EXPECT_TRUE(!root || ::seteuid(0) == 0); }
    };
    std::optional<OrdinaryUser> user(std::in_place);
    for (const auto& [request, message] : cases) {
        // Run aside: before the refusal the GIS library waited on a pipe for ever. A writer that
        // opens and closes the pipe ends such a wait, so a failure here cannot hang the suite.
        auto reading = std::async(std::launch::async, [&request = request] {
            std::string pages;
            const std::string refusal = MessageOf<SeriesSourceError>(
                [&] { pages = std::to_string(ReadIndexLayer(request).PageCount()) + " pages"; });
            return pages.empty() ? refusal : pages;
        });
        if (reading.wait_for(std::chrono::seconds(20)) == std::future_status::timeout) {
            ADD_FAILURE() << message << ": did not return";
            ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
        }
        EXPECT_EQ(reading.get(), message);
    }
    user.reset();
    std::filesystem::permissions(dir / "locked", std::filesystem::perms::owner_all);
}

// Every row a series gives, in page order, last page first: more pages than the rows kept at
// hand, so that rows are read again after others pushed them out.
std::vector<std::vector<Variant>> AllRows(const SeriesData& d) {
    std::vector<std::vector<Variant>> rows(d.PageCount());
    for (size_t i = rows.size(); i-- > 0;) rows[i] = d.Row(i);
    for (size_t i = 0; i < rows.size(); ++i) EXPECT_TRUE(d.Row(i) == rows[i]) << "page " << i + 1 << " read again";
    return rows;
}

TEST(SeriesSource, RowsReadOnDemandAreTheRowsReadIntoMemory) {
    TempDir dir;
    const auto gpkg = MakeDataset(dir.Path(), "sheets.gpkg");
    std::filesystem::create_directory(dir / "shapes");
    const auto shp = MakeDataset(dir / "shapes", "sheets.shp");
    // Many pages, 64-bit integers beyond 32 bits and nulls, ordered by a field with ties.
    const auto many = dir / "many.gpkg";
    {
        GDALDriver* driver = GetGDALDriverManager()->GetDriverByName("GPKG");
        GDALDatasetUniquePtr ds(driver->Create(many.c_str(), 0, 0, 0, GDT_Unknown, nullptr));
        OGRLayer* layer = ds->CreateLayer("grid", nullptr, wkbPolygon, nullptr);
        OGRFieldDefn rank("rank", OFTInteger), big("big", OFTInteger64), name("name", OFTString);
        layer->CreateField(&rank);
        layer->CreateField(&big);
        layer->CreateField(&name);
        for (int i = 0; i < 60; ++i) {
            OGRFeatureUniquePtr f(OGRFeature::CreateFeature(layer->GetLayerDefn()));
            if (i % 7 != 0) f->SetField("rank", (i * 13) % 9);
            if (i % 5 != 0) f->SetField("big", (static_cast<GIntBig>(1) << 33) * i);
            f->SetField("name", CPLSPrintf("Sheet %d", i));
            OGRGeometry* g = nullptr;
            OGRGeometryFactory::createFromWkt(CPLSPrintf("POLYGON((%d 0,%d 0,%d 5,%d 5,%d 0))", i, i + 1, i + 1, i, i),
                                              nullptr, &g);
            f->SetGeometryDirectly(g);
            ASSERT_EQ(layer->CreateFeature(f.get()), OGRERR_NONE);
        }
    }
    const std::filesystem::path sample = std::filesystem::path(CRV_SOURCE_DIR) / "samples" / "sheets.gpkg";
    const standalone::SeriesRequest cases[] = {
        {sample, "sheets", "PAGE_NO"},
        {sample, "", ""},
        {gpkg, "", "whole"},
        {gpkg, "", "fid"},
        {shp, "", "whole"},
        {many, "", "rank"},
        {many, "", "big"},
        {many, "", ""},
    };
    for (const auto& request : cases) {
        const std::string what = request.dataset.filename().string() + " by " + request.order_field;
        auto inMemory = request;
        inMemory.rows_in_memory = true;
        const SeriesData held = ReadIndexLayer(inMemory);
        const SeriesData read = ReadIndexLayer(request);
        EXPECT_EQ(held.rows, nullptr) << what;
        ASSERT_NE(read.rows, nullptr) << what;
        EXPECT_TRUE(read.features.empty()) << what;
        ASSERT_EQ(read.fields.size(), held.fields.size()) << what;
        for (size_t i = 0; i < held.fields.size(); ++i) {
            EXPECT_EQ(read.fields[i].name, held.fields[i].name) << what;
            EXPECT_EQ(read.fields[i].type, held.fields[i].type) << what << " " << held.fields[i].name;
        }
        EXPECT_EQ(read.name, held.name) << what;
        EXPECT_EQ(read.envelopes, held.envelopes) << what;
        ASSERT_GE(held.PageCount(), 3u) << what;
        const auto rows = AllRows(read);
        ASSERT_EQ(rows.size(), held.features.size()) << what;
        for (size_t i = 0; i < rows.size(); ++i) EXPECT_TRUE(rows[i] == held.features[i]) << what << " page " << i + 1;
        EXPECT_EQ(read.Value(1, 1), held.features[1][1]) << what;
        EXPECT_EQ(read.Value(1, held.fields.size()), Variant::Null()) << what;
        EXPECT_THROW(read.Row(read.PageCount()), std::out_of_range) << what;
    }
}

TEST(SeriesSource, ADatasetSpoiltAfterLoadingGivesAnErrorNotACrash) {
    // A shapefile this small is read ahead whole, so its rows may outlive the files.
    for (const auto& [file, mustFail] : {std::pair{"sheets.gpkg", true}, std::pair{"sheets.shp", false}}) {
        TempDir dir;
        std::filesystem::create_directory(dir / "data");
        const auto path = MakeDataset(dir / "data", file);
        SeriesData d = ReadIndexLayer({path, "", "whole"});
        const SeriesData held = ReadIndexLayer({path, "", "whole", true});
        ASSERT_NE(d.rows, nullptr) << file;
        EXPECT_EQ(d.Row(0), held.features[0]) << file;
        // Removed: the series keeps the dataset open and still reads it.
        const auto kept = dir / "kept";
        std::filesystem::rename(dir / "data", kept);
        EXPECT_EQ(d.Row(1), held.features[1]) << file;
        // Emptied where it lies: a row read a moment ago is still at hand, the others are not.
        for (const auto& entry : std::filesystem::directory_iterator(kept)) {
            std::ofstream(entry.path(), std::ios::trunc | std::ios::binary) << "not a map";
        }
        EXPECT_EQ(d.Row(0), held.features[0]) << file;
        // A row that cannot be read is reported each time it is asked for, whole or a value.
        const std::function<Variant()> asks[] = {[&] { return d.Row(2).at(1); }, [&] { return d.Value(2, 1); }};
        for (const auto& ask : asks) {
            try {
                EXPECT_EQ(ask(), held.features[2][1]) << file;
                EXPECT_FALSE(mustFail) << file << ": a row was read from an emptied dataset";
            } catch (const ComError& e) {
                EXPECT_EQ(e.Number(), hresult::kFail) << file;
                const std::string start = "cannot read page 3 of map series dataset " + path.string() + ": ";
                EXPECT_EQ(e.Description().substr(0, start.size()), start) << file << ": " << e.Description();
            }
        }
    }
}

}  // namespace
}  // namespace crv::testing
