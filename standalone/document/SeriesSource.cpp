#include "standalone/document/SeriesSource.h"

#include <gdal.h>
#include <ogrsf_frmts.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <numeric>
#include <optional>

namespace crv::standalone {

namespace {

void RegisterDriversOnce() {
    static const bool done = [] {
        GDALAllRegister();
        return true;
    }();
    (void)done;
}

struct DatasetCloser {
    void operator()(GDALDataset* d) const { GDALClose(d); }
};

std::string TwoDigits(int v) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}

// ISO 8601 text: the host has no date value of its own on this platform.
std::string DateText(const OGRFeature& f, int index, OGRFieldType type) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, tz = 0;
    float s = 0;
    f.GetFieldAsDateTime(index, &y, &mo, &d, &h, &mi, &s, &tz);
    std::string date = std::to_string(y) + "-" + TwoDigits(mo) + "-" + TwoDigits(d);
    char sec[16];
    const double whole = static_cast<double>(static_cast<int>(s));
    if (static_cast<double>(s) == whole) {
        std::snprintf(sec, sizeof sec, "%02d", static_cast<int>(s));
    } else {
        std::snprintf(sec, sizeof sec, "%06.3f", static_cast<double>(s));
    }
    const std::string time = TwoDigits(h) + ":" + TwoDigits(mi) + ":" + sec;
    if (type == OFTDate) return date;
    if (type == OFTTime) return time;
    return date + "T" + time;
}

Variant FieldValue(const OGRFeature& f, int index, const OGRFieldDefn& defn, int32_t hostType) {
    if (!f.IsFieldSetAndNotNull(index)) return Variant::Null();
    switch (defn.GetType()) {
        case OFTInteger:
            if (hostType == fieldtype::kSmallInteger) return Variant(static_cast<int16_t>(f.GetFieldAsInteger(index)));
            return Variant(static_cast<int32_t>(f.GetFieldAsInteger(index)));
        case OFTInteger64: {
            const GIntBig v = f.GetFieldAsInteger64(index);
            if (hostType == fieldtype::kInteger) return Variant(static_cast<int32_t>(v));
            return Variant(static_cast<double>(v));
        }
        case OFTReal: return Variant(f.GetFieldAsDouble(index));
        case OFTDate:
        case OFTTime:
        case OFTDateTime: return Variant(DateText(f, index, defn.GetType()));
        default: return Variant(std::string(f.GetFieldAsString(index)));
    }
}

bool FitsInt32(GIntBig v) {
    return v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max();
}

// Orders two values of the sort field; nulls after everything else.
bool OrderLess(const Variant& a, const Variant& b) {
    if (a.IsNull() || b.IsNull()) return !a.IsNull() && b.IsNull();
    if (a.Type() == VariantType::String || b.Type() == VariantType::String) {
        return CStr(a) < CStr(b);
    }
    return CDbl(a) < CDbl(b);
}

// While alive, the GIS library's own complaints stay off standard error: they would add lines to
// the one-line message the caller gives.
struct QuietErrors {
    QuietErrors() { CPLPushErrorHandler(CPLQuietErrorHandler); }
    ~QuietErrors() { CPLPopErrorHandler(); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;
};

// A feature's row: its id, then its fields as the host types them.
std::vector<Variant> ConvertRow(const OGRFeature& f, const OGRFeatureDefn& defn, const std::vector<int32_t>& types,
                                bool fidFits) {
    std::vector<Variant> values;
    values.reserve(types.size() + 1);
    const GIntBig fid = f.GetFID();
    values.push_back(fidFits ? Variant(static_cast<int32_t>(fid)) : Variant(static_cast<double>(fid)));
    for (int i = 0; i < static_cast<int>(types.size()); ++i) {
        values.push_back(FieldValue(f, i, *defn.GetFieldDefn(i), types[static_cast<size_t>(i)]));
    }
    return values;
}

// One pass over a layer's features, holding one at a time.
struct Scan {
    std::vector<Rect> envelopes;
    // Either every row (read into memory) or every feature id with the values pages are
    // ordered by.
    std::vector<std::vector<Variant>> rows;
    std::vector<GIntBig> fids;
    std::vector<Variant> keys;
    bool fidFits = true;
    std::vector<char> int64Fits;
};

constexpr size_t kNoKey = static_cast<size_t>(-1);

// `provisional` reads 64-bit integers as doubles, since whether they all fit 32 bits is known
// only at the end; ids likewise.
Scan ScanLayer(OGRLayer& layer, const std::vector<int32_t>& provisional, bool keepRows, size_t key) {
    const OGRFeatureDefn& defn = *layer.GetLayerDefn();
    const int fieldCount = defn.GetFieldCount();
    Scan scan;
    scan.int64Fits.assign(static_cast<size_t>(fieldCount), 1);
    layer.ResetReading();
    while (OGRFeature* raw = layer.GetNextFeature()) {
        const std::unique_ptr<OGRFeature> f(raw);
        Rect env;
        if (const OGRGeometry* g = f->GetGeometryRef(); g != nullptr && !g->IsEmpty()) {
            OGREnvelope e;
            g->getEnvelope(&e);
            env = {e.MinX, e.MinY, e.MaxX, e.MaxY};
        }
        scan.envelopes.push_back(env);
        scan.fidFits = scan.fidFits && FitsInt32(f->GetFID());
        for (int i = 0; i < fieldCount; ++i) {
            if (defn.GetFieldDefn(i)->GetType() == OFTInteger64 && f->IsFieldSetAndNotNull(i)) {
                if (!FitsInt32(f->GetFieldAsInteger64(i))) scan.int64Fits[static_cast<size_t>(i)] = 0;
            }
        }
        if (keepRows) {
            scan.rows.push_back(ConvertRow(*f, defn, provisional, false));
        } else {
            scan.fids.push_back(f->GetFID());
            if (key == 0) {
                scan.keys.push_back(Variant(static_cast<double>(f->GetFID())));
            } else if (key != kNoKey) {
                const int field = static_cast<int>(key - 1);
                scan.keys.push_back(FieldValue(*f, field, *defn.GetFieldDefn(field), provisional[key - 1]));
            }
        }
    }
    return scan;
}

// Ids that are missing or repeated cannot find their feature again.
bool IdsFindFeatures(std::vector<GIntBig> fids) {
    std::sort(fids.begin(), fids.end());
    return (fids.empty() || fids.front() != OGRNullFID) && std::adjacent_find(fids.begin(), fids.end()) == fids.end();
}

// Rows fetched from the open dataset by feature id, the last few kept: a page's own row is
// asked for many times while it is shown, and its neighbours' when the map is drawn.
class DatasetRows final : public SeriesRows {
public:
    DatasetRows(std::unique_ptr<GDALDataset, DatasetCloser> ds, OGRLayer* layer, std::vector<int32_t> types,
                bool fidFits, std::vector<GIntBig> fids, std::string path)
        : ds_(std::move(ds)),
          layer_(layer),
          types_(std::move(types)),
          fidFits_(fidFits),
          fids_(std::move(fids)),
          path_(std::move(path)) {}

    size_t Count() const override { return fids_.size(); }

    std::vector<Variant> Row(size_t index) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        return Cached(index);
    }

    std::optional<Variant> Value(size_t index, size_t field) override {
        const std::lock_guard<std::mutex> lock(mutex_);
        const std::vector<Variant>& row = Cached(index);
        if (field >= row.size()) return std::nullopt;
        return row[field];
    }

private:
    static constexpr size_t kCached = 16;

    // The page's row, read from the dataset unless it is among the last kept; most recently
    // asked first. With mutex_ held.
    const std::vector<Variant>& Cached(size_t index) {
        for (size_t i = 0; i < cache_.size(); ++i) {
            if (cache_[i].first == index) {
                std::rotate(cache_.begin(), cache_.begin() + static_cast<std::ptrdiff_t>(i),
                            cache_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
                return cache_.front().second;
            }
        }
        const QuietErrors quiet;
        CPLErrorReset();
        const std::unique_ptr<OGRFeature> f(layer_->GetFeature(fids_.at(index)));
        if (!f) {
            const std::string why = CPLGetLastErrorMsg();
            Raise(hresult::kFail, "MapSeries.Row",
                  "cannot read page " + std::to_string(index + 1) + " of map series dataset " + path_ + ": " +
                      (why.empty() ? "its feature is no longer there" : why));
        }
        std::vector<Variant> row = ConvertRow(*f, *layer_->GetLayerDefn(), types_, fidFits_);
        if (cache_.size() < kCached) cache_.emplace_back();
        cache_.back() = {index, std::move(row)};
        std::rotate(cache_.begin(), cache_.end() - 1, cache_.end());
        return cache_.front().second;
    }

    std::mutex mutex_;
    std::unique_ptr<GDALDataset, DatasetCloser> ds_;
    OGRLayer* layer_;
    std::vector<int32_t> types_;
    bool fidFits_;
    std::vector<GIntBig> fids_;
    std::string path_;
    // Most recently asked first.
    std::vector<std::pair<size_t, std::vector<Variant>>> cache_;
};

}  // namespace

void* VectorDriverForExtension(const std::string& extension) {
    RegisterDriversOnce();
    for (int i = 0; i < GDALGetDriverCount(); ++i) {
        GDALDriverH driver = GDALGetDriver(i);
        if (GDALGetMetadataItem(driver, GDAL_DCAP_VECTOR, nullptr) == nullptr ||
            GDALGetMetadataItem(driver, GDAL_DCAP_CREATE, nullptr) == nullptr) {
            continue;
        }
        const char* listed = GDALGetMetadataItem(driver, GDAL_DMD_EXTENSIONS, nullptr);
        if (listed == nullptr) listed = GDALGetMetadataItem(driver, GDAL_DMD_EXTENSION, nullptr);
        if (listed == nullptr) continue;
        const CPLStringList extensions(CSLTokenizeString2(listed, " ", 0));
        for (int k = 0; k < extensions.size(); ++k) {
            if (EQUAL(extensions[k], extension.c_str())) return driver;
        }
    }
    return nullptr;
}

int32_t HostFieldType(int ogrType, int ogrSubType) {
    switch (static_cast<OGRFieldType>(ogrType)) {
        case OFTInteger: return ogrSubType == OFSTInt16 ? fieldtype::kSmallInteger : fieldtype::kInteger;
        case OFTInteger64: return fieldtype::kInteger;
        case OFTReal: return ogrSubType == OFSTFloat32 ? fieldtype::kSingle : fieldtype::kDouble;
        case OFTString: return fieldtype::kString;
        case OFTDate:
        case OFTTime:
        case OFTDateTime: return fieldtype::kDate;
        case OFTBinary: return fieldtype::kBlob;
        default:
            // Lists of values: nothing the host has a type for.
            return fieldtype::kXml;
    }
}

SeriesData ReadIndexLayer(const SeriesRequest& request) {
    RegisterDriversOnce();
    const QuietErrors quiet;
    const std::string path = request.dataset.string();
    std::error_code ec;
    const auto kind = std::filesystem::status(request.dataset, ec).type();
    if (kind == std::filesystem::file_type::not_found) throw SeriesSourceError("map series dataset not found: " + path);
    if (kind == std::filesystem::file_type::none) {
        throw SeriesSourceError("cannot open map series dataset " + path + ": " + ec.message());
    }
    // A dataset is a file or, for some formats, a folder. Anything else (a pipe, a device) could
    // keep the GIS library waiting for data that never comes.
    if (kind != std::filesystem::file_type::regular && kind != std::filesystem::file_type::directory) {
        throw SeriesSourceError("map series dataset " + path + " is neither a regular file nor a folder");
    }
    // The GIS library says only that it cannot open what it may not read.
    if (const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC); fd >= 0) {
        ::close(fd);
    } else {
        throw SeriesSourceError("cannot open map series dataset " + path + ": " + std::strerror(errno));
    }
    std::unique_ptr<GDALDataset, DatasetCloser> ds(
        GDALDataset::Open(path.c_str(), GDAL_OF_VECTOR | GDAL_OF_READONLY, nullptr, nullptr, nullptr));
    if (!ds) throw SeriesSourceError("cannot open map series dataset " + path + " as vector data");
    OGRLayer* layer = nullptr;
    if (request.layer.empty()) {
        if (ds->GetLayerCount() == 0) throw SeriesSourceError("map series dataset " + path + " holds no layer");
        layer = ds->GetLayer(0);
    } else {
        layer = ds->GetLayerByName(request.layer.c_str());
        if (layer == nullptr) {
            throw SeriesSourceError("map series dataset " + path + " has no layer named " + request.layer);
        }
    }

    OGRFeatureDefn* defn = layer->GetLayerDefn();
    const int fieldCount = defn->GetFieldCount();
    SeriesData data;
    const char* fidColumn = layer->GetFIDColumn();
    data.fields.push_back(
        {(fidColumn != nullptr && *fidColumn != '\0') ? fidColumn : "OBJECTID", fieldtype::kObjectId});
    std::vector<int32_t> types, provisional;
    for (int i = 0; i < fieldCount; ++i) {
        const OGRFieldDefn* fd = defn->GetFieldDefn(i);
        types.push_back(HostFieldType(fd->GetType(), fd->GetSubType()));
        provisional.push_back(fd->GetType() == OFTInteger64 ? fieldtype::kDouble : types.back());
    }
    size_t key = kNoKey;
    if (!request.order_field.empty()) {
        if (data.fields[0].name == request.order_field) key = 0;
        for (int i = 0; i < fieldCount && key == kNoKey; ++i) {
            if (request.order_field == defn->GetFieldDefn(i)->GetNameRef()) key = static_cast<size_t>(i) + 1;
        }
        if (key == kNoKey) {
            throw SeriesSourceError("map series layer " + std::string(layer->GetName()) + " in " + path +
                                    " has no page order field named " + request.order_field);
        }
    }

    // A layer that fetches any feature by its id quickly keeps its rows in the dataset, and only
    // the ids stay here; any other layer's rows are read into memory.
    bool onDemand = !request.rows_in_memory && layer->TestCapability(OLCRandomRead) != 0;
    Scan scan = ScanLayer(*layer, provisional, !onDemand, key);
    if (onDemand && !IdsFindFeatures(scan.fids)) {
        onDemand = false;
        scan = ScanLayer(*layer, provisional, true, key);
    }
    // A 64-bit integer field stays an integer while every value fits the host's 32 bits.
    for (int i = 0; i < fieldCount; ++i) {
        if (!scan.int64Fits[static_cast<size_t>(i)]) types[static_cast<size_t>(i)] = fieldtype::kDouble;
        data.fields.push_back({defn->GetFieldDefn(i)->GetNameRef(), types[static_cast<size_t>(i)]});
    }
    for (auto& row : scan.rows) {
        if (scan.fidFits) row[0] = Variant(static_cast<int32_t>(CDbl(row[0])));
        for (size_t i = 0; i < types.size(); ++i) {
            Variant& v = row[i + 1];
            if (types[i] != provisional[i] && !v.IsNull()) v = Variant(static_cast<int32_t>(CDbl(v)));
        }
    }

    if (key != kNoKey) {
        const size_t count = scan.envelopes.size();
        std::vector<size_t> order(count);
        std::iota(order.begin(), order.end(), size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
            return onDemand ? OrderLess(scan.keys[a], scan.keys[b]) : OrderLess(scan.rows[a][key], scan.rows[b][key]);
        });
        scan.keys = {};
        std::vector<Rect> envelopes;
        envelopes.reserve(count);
        for (size_t i : order) envelopes.push_back(scan.envelopes[i]);
        scan.envelopes = std::move(envelopes);
        if (onDemand) {
            std::vector<GIntBig> fids;
            fids.reserve(count);
            for (size_t i : order) fids.push_back(scan.fids[i]);
            scan.fids = std::move(fids);
        } else {
            std::vector<std::vector<Variant>> rows;
            rows.reserve(count);
            for (size_t i : order) rows.push_back(std::move(scan.rows[i]));
            scan.rows = std::move(rows);
        }
    }
    data.name = layer->GetName();
    data.envelopes = std::move(scan.envelopes);
    if (onDemand) {
        data.rows = std::make_shared<DatasetRows>(std::move(ds), layer, std::move(types), scan.fidFits,
                                                  std::move(scan.fids), path);
    } else {
        data.features = std::move(scan.rows);
    }
    return data;
}

}  // namespace crv::standalone
